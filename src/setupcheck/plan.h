// What an install of a checked distribution does to a machine, worked out from SETUP.DAT and the
// choices on the two wizard pages alone: every folder, file, sizes.txt and INI entry, registry
// change, link and program start, in the order setup.exe makes them. What depends on the machine
// is stated with the step, never guessed.
#pragma once

#include <stdint.h>
#include <stdio.h>

#include <string>
#include <vector>

#include "checker.h"

struct PlanChoices {
  std::string destination;  // typed on the destination page; empty: the default
  std::vector<int> without; // optional groups (N) whose box the user clears
  int64_t cluster = kDefaultClusterSize;
  // A removal's install record (the installed uninstall.ini's text); without one, the record a
  // first install of the chosen groups leaves.
  bool haveRecord = false;
  std::string record;
};

enum StepKind {
  kStepSize,        // a SizeN entry written to sizes.txt beside SETUP.DAT
  kStepFolder,      // a folder created on the way to a file (nothing happens where it exists)
  kStepFile,        // a file copied over whatever is there
  kStepIni,         // an INI entry written
  kStepKey,         // a registry key created where missing, with its missing parents
  kStepValue,       // a registry value written
  kStepDeleteValue, // a registry value deleted where present
  kStepDeleteKey,   // a registry key deleted with everything below it, where present
  kStepLink,        // a shortcut saved
  kStepRun,         // a program started
  kStepRecord,      // an entry of the install record, uninstall.ini
  // A removal's steps
  kStepRemoveFile,   // a file deleted where present
  kStepRemoveFolder, // a folder removed where empty
  kStepRemoveKey,    // a registry key deleted where empty
  kStepRemoveIni,    // an INI entry deleted, its section and file where left empty
  kStepStay,         // what a removal leaves alone, and why
};

// Where a step's folder lies when the plan cannot name it: the platform finds it on the machine.
enum PlanBase { kBaseNone, kBasePrograms, kBaseDesktop, kBaseWindows, kBaseSetupFolder };

enum ValueCondition { kAlways, kOnlyIfAbsent, kOnlyIfPresent };

struct PlanStep {
  StepKind kind;
  PlanBase base = kBaseNone; // path is relative to this folder
  std::string path;          // folder, file, INI file or link; a registry key as ROOT\path
  std::string section;       // INI section
  std::string name;          // INI key, registry value name, or SizeN
  std::string text;   // INI or record value, file source, link target, command line, SizeN figure,
                      // the string a removal takes out of a list
  std::string folder; // the link's working directory
  uint32_t type = 0;  // registry value type
  std::string data;   // registry value bytes as an ANSI program reads them back
  int64_t size = 0;   // file size
  int group = 0;      // the group (N) a file or size belongs to
  int line = 0;       // SETUP.DAT line; 0 for steps of setup.exe's own
  // Conditions on the machine the step is taken under; the plan states them, the machine decides.
  std::string requiredKey; // taken only where this registry key exists (ROOT\path)
  ValueCondition valueCondition = kAlways;
  std::string machine; // non-empty: the step's outcome depends on the machine in a way not
                       // described by the two conditions above (the reason)
  std::string only;    // a removal's further condition ("where it points at ...")
};

struct PlanGroup {
  int number;
  std::string section, description, option;
  bool selected;
  int files;     // lines copied
  int64_t bytes; // the size setup.exe uses: SizeN, else measured
  bool measured; // no SizeN: measured on every run and written to sizes.txt
};

struct Plan {
  bool removal = false; // what uninstall.exe does, not setup.exe
  std::string appName;
  std::string destination;
  std::string destinationFrom; // how it was chosen
  std::vector<PlanGroup> groups;
  std::vector<PlanStep> steps;      // in the order setup.exe takes them
  std::vector<std::string> machine; // what depends on the machine as a whole
};

// Builds the plan of a checked distribution. Returns false, with the reason in *problem, when the
// choices do not fit the distribution or the install would not complete with them.
bool MakePlan(const CheckResult& checked, const std::string& folder, const PlanChoices& choices,
              Plan* plan, std::string* problem);

// The plan of removing what an install of a checked distribution made, as uninstall.exe in the
// installed folder does it: what the install record lists (choices.record, else the record of a
// first install with the choices), and nothing else.
bool MakeRemovalPlan(const CheckResult& checked, const std::string& folder,
                     const PlanChoices& choices, Plan* plan, std::string* problem);

// One step as a line of text, as the text plan shows it.
std::string DescribeStep(const PlanStep& step);

// Registry value data as the plan shows it: strings quoted, numbers in hex, other bytes in hex.
std::string DescribeValueData(uint32_t type, const std::string& data);

void PrintPlanText(const Plan& plan, FILE* out);
void PrintPlanJson(const Plan& plan, FILE* out);
