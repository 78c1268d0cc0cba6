// The planner's own pieces, shared by the files that build a plan: the files and folders of the
// copy (plan_files.cpp), the INI and registry lines of default_install (plan_registry.cpp), and
// the steps of setup.exe's own around them (plan.cpp).
#pragma once

#include <stdint.h>

#include <functional>
#include <set>
#include <string>
#include <vector>

#include "plan.h"
#include "setup_script/registry_line_flags.h"

namespace plan_detail {

enum : uint32_t {
  kRegNone = 0,
  kRegSz = 1,
  kRegExpandSz = 2,
  kRegBinary = 3,
  kRegDword = 4,
  kRegLink = 6,
  kRegMultiSz = 7,
};

extern const char kDirectoryId[];

// Text without the blanks around it, as the Setup API and the profile functions read a name.
std::string Trimmed(const std::string& text);

// A directory id left after substitution (%10%, %11%, ...): the platform puts a folder of the
// machine in its place.
bool HasDirectoryId(const std::string& text);

// What one AddReg or DelReg line does, as far as its first four fields decide.
struct RegistryLine {
  std::string root; // lower case, as written
  std::string key;  // ROOT\subkey
  std::string subkey, name;
  int32_t flags = 0;
  std::string machine; // why the outcome depends on the machine; empty when it does not
  bool mustExist = false;
};

// The sections of an install record, each key once (ASCII letters folded), in the order written.
struct Record {
  std::vector<std::pair<std::string, std::vector<std::string>>> sections;
  const std::vector<std::string>* Keys(const char* section) const;
  bool Has(const char* section, const std::string& key) const;
  void Add(const std::string& section, const std::string& key);
  std::string application, folder; // [Installation]
};

// The record's text as the profile functions read it.
void ParseRecord(const std::string& text, Record* record);

// Whether a name can be a key of the record: the profile functions would read another one back.
bool Recordable(const std::string& key);

class Planner {
public:
  Planner(const CheckResult& checked, const std::string& folder, const PlanChoices& choices,
          Plan* plan)
      : checked_(checked), folder_(folder), choices_(choices), plan_(plan), inf_(checked.inf) {}

  bool Run(std::string* problem);
  // plan_removal.cpp
  bool RunRemoval(std::string* problem);

private:
  bool ChooseDestination(std::string* problem);
  bool ChooseGroups(std::string* problem);
  void PlanSizes();
  void PlanFinishing();
  void NoteMachine();

  // plan_files.cpp
  bool PlanCopy(std::string* problem);
  bool PlanGroupCopy(PlanGroup& group, const InfSection& section, std::string* problem);
  void PlanFolders(const std::string& targetPath, size_t start, int line, int group);
  bool FolderMade(std::string folder) const;

  // plan_registry.cpp
  void PlanInstallSection();
  void PlanIniLine(const InfLine& line);
  void PlanRegistryLine(const InfLine& line, bool deleting);
  bool ReadRegistryLine(const InfLine& line, bool deleting, RegistryLine* reg);
  void PlanRegistryDelete(const InfLine& line, const RegistryLine& reg);
  void PlanRegistryValue(const InfLine& line, RegistryLine& reg);
  bool RegistryValueData(const InfLine& line, uint32_t type, RegistryLine& reg, std::string* data);
  PlanStep& AddRegistryStep(StepKind kind, const InfLine& line, const RegistryLine& reg);

  // plan_record.cpp
  // A path of the copy relative to the destination, "/" read as "\", as the record names it.
  std::string Relative(const std::string& path) const;
  std::string InFolder(const std::string& name) const; // the other way

  bool RecordWanted() const;
  PlanStep& AddRecord(const char* section, const std::string& key, const char* only);
  void PlanRecordCopy();
  void PlanRecordInstallSection();
  bool IniIdentity(const InfLine& line, std::string* identity) const;
  void ForEachAddRegIdentity(
      const std::function<void(const InfLine&, const RegistryLine&, int, const std::string&)>& f);

  // plan_removal.cpp
  bool RecordOfFirstInstall(Record* record, std::string* problem);
  void PlanFileRemoval(const Record& record, const std::vector<PlanStep>& installed);
  void PlanRegistryRemoval(const Record& record);
  void PlanIniRemoval(const Record& record);
  void PlanFolderRemoval(const Record& record, const std::vector<PlanStep>& installed);
  void NoteRemovalMachine();
  PlanStep& AddStay(const std::string& path, int line, const char* why);

  PlanStep& Add(StepKind kind, const std::string& path, int line);
  // Field N (from 1) of a line after substitution, as SetupGetStringField gives it.
  bool Field(const InfLine& line, size_t n, std::string* text) const;
  // The sections named by every KEY= line of default_install, in order.
  std::vector<const InfSection*> NamedSections(const char* key) const;

  const CheckResult& checked_;
  std::string folder_;
  const PlanChoices& choices_;
  Plan* plan_;
  InfFile inf_;
  std::vector<std::string> createdFolders_; // lower case, to list each once
  std::set<std::string> createdKeys_;       // lower case, to list each once
  bool writesMachineKeys_ = false;
  bool copiesFiles_ = false;
  const char* installSection_ = "default_install"; // default_uninstall for a removal
};

} // namespace plan_detail
