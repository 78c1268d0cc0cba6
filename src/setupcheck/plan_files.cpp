// The copy's part of a plan: every file of the selected groups and the folders made on the way,
// with the same texts, splits and limits as the copy itself, so a plan is only made for lines
// that copy.
#include <algorithm>

#include "file_system.h"
#include "plan_internal.h"
#include "setup_script/text_rules.h"
#include "text_helpers.h"

namespace plan_detail {

namespace {

const size_t kLineBuffer = 256;   // the copy's line, source and target texts
const size_t kWorkBuffer = 512;   // the copy's scratch for joined paths
const size_t kQuotedSource = 128; // the source name kept for the failure message
const char kRefusedName[] = "a name with a character Windows refuses (:*?\"<>|): there the copy "
                            "fails and setup.exe stops; Wine makes the file";

bool HasRefusedCharacter(const std::string& name) {
  return FindChar(name, ":*?\"<>|") != std::string::npos;
}

} // namespace

bool Planner::PlanCopy(std::string* problem) {
  for (PlanGroup& group : plan_->groups) {
    int index = FindInfSection(inf_, group.section.c_str());
    if (group.selected && index >= 0 && !PlanGroupCopy(group, inf_.sections[index], problem)) {
      return false;
    }
  }
  return true;
}

bool Planner::PlanGroupCopy(PlanGroup& group, const InfSection& section, std::string* problem) {
  const std::string& destination = plan_->destination;
  char previous[kLineBuffer] = "";
  bool foldersBegun = false;
  for (const InfLine& line : section.lines) {
    std::string text = InfLineText(inf_, line);
    if (text.size() > kLineTextLimit) {
      break; // the copy reads no further in this group
    }
    char target[kLineBuffer];
    char source[kLineBuffer];
    SplitGroupLine(text.c_str(), target, sizeof target, source, sizeof source);
    char quoted[kQuotedSource];
    char work[kWorkBuffer];
    char targetPath[kLineBuffer];
    int fits = CopyText(quoted, sizeof quoted, source);
    fits &= JoinPathOnce(work, sizeof work, destination.c_str(), target);
    fits &= CopyText(targetPath, sizeof targetPath, work);
    if (!fits) {
      *problem = "SETUP.DAT:" + Number(line.lineNumber) + ": the target path " + work +
                 " is longer than 255 characters: the copy fails";
      return false;
    }
    // The folders on the way, from the destination's last level on the first pass of a group
    // and below it afterwards, made whenever a line's folder differs from the line before.
    char current[kLineBuffer];
    CopyText(current, sizeof current, targetPath);
    CutAtLastSeparator(current);
    if (!EqualIgnoringAsciiCase(current, previous)) {
      PlanFolders(std::string(targetPath), destination.size() + (foldersBegun ? 1 : 0),
                  line.lineNumber, group.number);
      foldersBegun = true;
    }
    CopyText(previous, sizeof previous, current);

    int64_t size = 0;
    FindBelow(folder_, source, &size);
    if (HasRefusedCharacter(std::string(targetPath).substr(destination.size()))) {
      // Wine makes such names; Windows refuses them, and the copy fails there.
      for (size_t i = plan_->steps.size(); i > 0 && plan_->steps[i - 1].line == line.lineNumber;
           --i) {
        plan_->steps[i - 1].machine = kRefusedName;
      }
    }
    PlanStep& step = Add(kStepFile, targetPath, line.lineNumber);
    if (HasRefusedCharacter(std::string(targetPath).substr(destination.size()))) {
      step.machine = kRefusedName;
    }
    step.text = source;
    step.size = size;
    step.group = group.number;
    ++group.files;
    copiesFiles_ = true;
  }
  return true;
}

// A folder step for every "\" of targetPath from byte start on, each folder listed once. The
// path is walked by character from its beginning, so a trail byte is never taken for "\".
void Planner::PlanFolders(const std::string& targetPath, size_t start, int line, int group) {
  for (size_t i = FindChar(targetPath, "\\"); i != std::string::npos;
       i = FindChar(targetPath, "\\", i + 1)) {
    if (i < start) {
      continue;
    }
    std::string folder(targetPath, 0, i);
    if (std::find(createdFolders_.begin(), createdFolders_.end(), LowerAscii(folder)) ==
        createdFolders_.end()) {
      createdFolders_.push_back(LowerAscii(folder));
      Add(kStepFolder, folder, line).group = group;
    }
  }
}

// Whether the install leaves folder in place: made on the way to a file, or the destination once
// a file is copied into it.
bool Planner::FolderMade(std::string folder) const {
  std::string destination = LowerAscii(plan_->destination);
  folder = LowerAscii(folder);
  for (std::string* path : {&folder, &destination}) {
    if (path->size() > 1 && EndsWithChar(*path, '\\')) {
      path->pop_back();
    }
  }
  return std::find(createdFolders_.begin(), createdFolders_.end(), folder) !=
             createdFolders_.end() ||
         (folder == destination && copiesFiles_);
}

} // namespace plan_detail
