#include "plan.h"

#include <algorithm>

#include "plan_internal.h"
#include "setup_script/text_rules.h"
#include "text_helpers.h"

namespace plan_detail {

namespace {

const size_t kNameBuffer = 256; // link and compatibility-entry names
const long kDestinationId = 65600;

const char kRunOnce[] = "HKLM\\Software\\Microsoft\\Windows\\CurrentVersion\\RunOnce";
const char kLayers[] =
    "HKCU\\Software\\Microsoft\\Windows NT\\CurrentVersion\\AppCompatFlags\\Layers";

} // namespace

PlanStep& Planner::Add(StepKind kind, const std::string& path, int line) {
  PlanStep step;
  step.kind = kind;
  step.path = path;
  step.line = line;
  plan_->steps.push_back(step);
  return plan_->steps.back();
}

bool Planner::Field(const InfLine& line, size_t n, std::string* text) const {
  if (n == 0 || n > line.fields.size()) {
    return false;
  }
  *text = SubstituteField(inf_, line.fields[n - 1]);
  return true;
}

bool Planner::ChooseDestination(std::string* problem) {
  if (!choices_.destination.empty()) {
    if (choices_.destination.size() < 3 || choices_.destination.size() > 259) {
      *problem = "--destination needs a folder of 3 to 259 characters";
      return false;
    }
    plan_->destination = choices_.destination;
    plan_->destinationFrom = "the destination page (--destination)";
  } else if (!checked_.path.empty()) {
    plan_->destination = checked_.path;
    plan_->destinationFrom = "[KVSetup] Path (line " + Number(checked_.pathLine) + ")";
  } else {
    plan_->destination = "C:\\" + checked_.appName;
    plan_->destinationFrom = "\"C:\\\" and [Strings] APPNAME: SETUP.DAT has no [KVSetup] Path";
  }
  const std::string& destination = plan_->destination;
  if (choices_.destination.empty()) {
    plan_->machine.push_back(
        "an earlier installation registered as the \"Path\" value of HKLM\\SOFTWARE\\Microsoft\\"
        "Windows\\CurrentVersion\\App Paths\\" +
        checked_.exeName + ".exe is the default destination instead");
  }
  size_t parentEnd = FindLastChar(destination, "\\");
  if (!EndsWithChar(destination, '\\') && parentEnd != std::string::npos && parentEnd > 2) {
    plan_->machine.push_back("the folder " + destination.substr(0, parentEnd) +
                             " must exist: setup.exe creates only the last level of the "
                             "destination, and the copy fails without it");
  }
  inf_.boundIds[kDestinationId] = destination;
  return true;
}

bool Planner::ChooseGroups(std::string* problem) {
  // The options page offers the first two OptionN read, the list's end included.
  std::vector<int> offered(checked_.options.begin(),
                           checked_.options.begin() + std::min<size_t>(2, checked_.options.size()));
  for (int n : choices_.without) {
    if (std::find(offered.begin(), offered.end(), n) == offered.end()) {
      *problem = "--without " + Number(n) + ": group " + Number(n) + " is not an optional group";
      if (!offered.empty()) {
        std::string list;
        for (int m : offered) {
          list += (list.empty() ? "" : " and ") + Number(m);
        }
        *problem += " (the optional groups are " + list + ")";
      }
      return false;
    }
  }
  for (const LoadedGroup& loaded : checked_.groups) {
    PlanGroup group;
    group.number = loaded.number;
    group.section = loaded.section;
    group.description = loaded.description;
    group.option = loaded.option;
    group.selected = std::find(choices_.without.begin(), choices_.without.end(), loaded.number) ==
                     choices_.without.end();
    group.files = 0;
    group.bytes = loaded.cachedSize;
    group.measured = false;
    for (const MeasuredSize& size : checked_.sizes) {
      if (size.group == loaded.number && loaded.cachedSize == 0) {
        group.bytes = size.bytes;
        group.measured = true;
      }
    }
    plan_->groups.push_back(group);
  }
  return true;
}

// Every group, selected or not, is measured on each pass through the options step; a group with
// a SizeN is not.
void Planner::PlanSizes() {
  for (const PlanGroup& group : plan_->groups) {
    if (!group.measured) {
      continue;
    }
    PlanStep& step = Add(kStepSize, "sizes.txt", 0);
    step.base = kBaseSetupFolder;
    step.section = "KVSetup";
    step.name = "Size" + Number(group.number);
    step.text = Number(group.bytes);
    step.group = group.number;
  }
}

void Planner::PlanFinishing() {
  const std::string& destination = plan_->destination;
  char target[kNameBuffer];
  bool targetFits = FormatText(target, sizeof target, "%s\\%s.exe", destination.c_str(),
                               checked_.exeName.c_str());
  char linkName[kNameBuffer];
  bool nameFits = FormatText(linkName, sizeof linkName, "%s.lnk", checked_.appName.c_str());
  for (PlanBase base : {kBasePrograms, kBaseDesktop}) {
    if (!targetFits || !nameFits) {
      break;
    }
    PlanStep& step = Add(kStepLink, linkName, 0);
    step.base = base;
    step.text = target;
    step.folder = destination;
  }
  // The entry is named by the installed program's full path; a longer name is never deleted.
  if (targetFits) {
    PlanStep& step = Add(kStepDeleteValue, kLayers, 0);
    step.name = target;
    step.requiredKey = kLayers;
  }
  std::string setupKey = std::string(kRunOnce) + "\\Setup";
  PlanStep& wrapper = Add(kStepValue, kRunOnce, 0);
  wrapper.name = "Wrapper";
  wrapper.type = kRegSz;
  wrapper.data = std::string("runonce") + '\0';
  wrapper.requiredKey = setupKey;
  PlanStep& grpConv = Add(kStepValue, kRunOnce, 0);
  grpConv.name = "GrpConv";
  grpConv.type = kRegSz;
  grpConv.data = std::string("grpconv -o") + '\0';
  grpConv.requiredKey = kRunOnce;
  Add(kStepRun, "<system folder>\\runonce.exe -r", 0).requiredKey = kRunOnce;
}

bool Planner::Run(std::string* problem) {
  plan_->appName = checked_.appName;
  if (!ChooseDestination(problem) || !ChooseGroups(problem)) {
    return false;
  }
  PlanSizes();
  if (!PlanCopy(problem)) {
    return false;
  }
  PlanRecordCopy();
  PlanInstallSection();
  PlanRecordInstallSection();
  PlanFinishing();
  NoteMachine();
  return true;
}

// What depends on the machine as a whole, after the steps.
void Planner::NoteMachine() {
  int64_t total = 0;
  size_t longestSource = 0;
  for (const PlanGroup& group : plan_->groups) {
    total += group.selected ? group.bytes : 0;
  }
  for (const PlanStep& step : plan_->steps) {
    if (step.kind == kStepFile) {
      longestSource = std::max(longestSource, step.text.size());
    }
  }
  plan_->machine.push_back(
      "the destination drive needs " + Number(total) + " bytes free (" + Number(choices_.cluster) +
      "-byte clusters), less what files already at the targets occupy; with less, setup.exe "
      "asks for another folder");
  plan_->machine.push_back("files already at the targets are replaced, read-only ones too; "
                           "folders already there are kept");
  if (longestSource > 0) {
    plan_->machine.push_back("the folder setup.exe runs from, followed by the longest source "
                             "name (" +
                             Number((int64_t)longestSource) +
                             " characters), must stay within 255 characters");
  }
  plan_->machine.push_back("sizes.txt holds figures for " + Number(choices_.cluster) +
                           "-byte clusters on the destination drive, and is not written where "
                           "setup.exe's folder is read-only");
  plan_->machine.push_back("the links' folders are the current user's \"Programs\" and "
                           "\"Desktop\" values of HKCU\\Software\\Microsoft\\Windows\\"
                           "CurrentVersion\\Explorer\\Shell Folders; a missing value makes no "
                           "link");
  if (writesMachineKeys_) {
    plan_->machine.push_back("HKLM lines of default_install need administrator rights, without "
                             "which the platform skips them");
  }
  plan_->machine.push_back("setup.exe is a 32-bit program: on 64-bit Windows its HKLM\\Software "
                           "keys lie under HKLM\\Software\\WOW6432Node");
  plan_->machine.push_back("RunOnce is written and the system folder's runonce.exe started only "
                           "where the RunOnce key exists and the user may write it "
                           "(administrators)");
}

} // namespace plan_detail

bool MakePlan(const CheckResult& checked, const std::string& folder, const PlanChoices& choices,
              Plan* plan, std::string* problem) {
  *plan = Plan();
  problem->clear();
  plan_detail::Planner planner(checked, folder, choices, plan);
  return planner.Run(problem);
}
