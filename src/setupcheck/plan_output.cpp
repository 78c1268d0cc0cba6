// The plan as text and as one JSON document.
#include <stdio.h>

#include "plan_internal.h"
#include "text_helpers.h"

using namespace plan_detail;

namespace {

std::string Quote(const std::string& text) {
  return "\"" + text + "\"";
}

const char* BaseName(PlanBase base) {
  switch (base) {
  case kBasePrograms:
    return "<Programs>";
  case kBaseDesktop:
    return "<Desktop>";
  case kBaseWindows:
    return "<Windows folder>";
  case kBaseSetupFolder:
    return "<setup.exe's folder>";
  case kBaseNone:
    break;
  }
  return "";
}

std::string StepPath(const PlanStep& step) {
  return step.base == kBaseNone ? step.path : std::string(BaseName(step.base)) + "\\" + step.path;
}

const char* TypeName(uint32_t type) {
  static const char* const kNames[] = {"REG_NONE",  "REG_SZ", "REG_EXPAND_SZ", "REG_BINARY",
                                       "REG_DWORD", nullptr,  "REG_LINK",      "REG_MULTI_SZ"};
  return type < sizeof kNames / sizeof kNames[0] ? kNames[type] : nullptr;
}

std::string TypeText(uint32_t type) {
  const char* name = TypeName(type);
  return name != nullptr && name[0] != '\0' ? name : "type " + Number(type);
}

std::string Hex(const std::string& data) {
  std::string text;
  char byte[4];
  for (unsigned char c : data) {
    snprintf(byte, sizeof byte, "%s%02x", text.empty() ? "" : " ", c);
    text += byte;
  }
  return text.empty() ? "(no bytes)" : text;
}

const char* StepWord(StepKind kind) {
  switch (kind) {
  case kStepSize:
    return "size";
  case kStepFolder:
    return "folder";
  case kStepFile:
    return "file";
  case kStepIni:
    return "ini";
  case kStepKey:
    return "key";
  case kStepValue:
    return "value";
  case kStepDeleteValue:
    return "delete-value";
  case kStepDeleteKey:
    return "delete-key";
  case kStepLink:
    return "link";
  case kStepRun:
    return "run";
  case kStepRemoveFile:
    return "remove-file";
  case kStepRemoveFolder:
    return "remove-folder";
  case kStepRemoveKey:
    return "remove-key";
  case kStepRemoveIni:
    return "remove-ini";
  case kStepRecord:
    return "record";
  case kStepStay:
    return "stays";
  }
  return "";
}

void PrintJsonString(FILE* out, const std::string& text) {
  fputs(JsonString(text).c_str(), out);
}

void PrintJsonField(FILE* out, const char* name, const std::string& text) {
  fprintf(out, ",\"%s\":", name);
  PrintJsonString(out, text);
}

// A step's fields in the JSON plan, after its kind.
void PrintJsonStep(FILE* out, const PlanStep& step) {
  if (step.base != kBaseNone) {
    static const char* const kBases[] = {"", "Programs", "Desktop", "Windows", "setup folder"};
    PrintJsonField(out, "base", kBases[step.base]);
  }
  PrintJsonField(out, step.kind == kStepRun ? "command" : "path", step.path);
  switch (step.kind) {
  case kStepSize:
  case kStepIni:
  case kStepRecord:
    PrintJsonField(out, "section", step.section);
    PrintJsonField(out, "key", step.name);
    PrintJsonField(out, "value", step.text);
    break;
  case kStepFile:
    PrintJsonField(out, "source", step.text);
    fprintf(out, ",\"bytes\":%lld", (long long)step.size);
    break;
  case kStepValue:
    PrintJsonField(out, "name", step.name);
    PrintJsonField(out, "type", TypeText(step.type));
    PrintJsonField(out, "data", DescribeValueData(step.type, step.data));
    break;
  case kStepDeleteValue:
    PrintJsonField(out, "name", step.name);
    if (!step.text.empty()) {
      PrintJsonField(out, "string", step.text);
    }
    break;
  case kStepLink:
    PrintJsonField(out, "target", step.text);
    PrintJsonField(out, "workingDirectory", step.folder);
    break;
  case kStepRemoveIni:
    PrintJsonField(out, "section", step.section);
    PrintJsonField(out, "key", step.name);
    break;
  default:
    break;
  }
  if (!step.only.empty()) {
    PrintJsonField(out, step.kind == kStepStay ? "why" : "only", step.only);
  }
  if (step.line > 0) {
    fprintf(out, ",\"line\":%d", step.line);
  }
  if (step.group > 0) {
    fprintf(out, ",\"group\":%d", step.group);
  }
  if (!step.requiredKey.empty()) {
    PrintJsonField(out, "onlyWhereKeyExists", step.requiredKey);
  }
  if (step.valueCondition != kAlways) {
    PrintJsonField(out, "onlyWhereValueIs",
                   step.valueCondition == kOnlyIfAbsent ? "absent" : "present");
  }
  if (!step.machine.empty()) {
    PrintJsonField(out, "machineDependent", step.machine);
  }
}

} // namespace

std::string DescribeValueData(uint32_t type, const std::string& data) {
  bool text = type == kRegSz || type == kRegExpandSz;
  if (text && !data.empty() && data.back() == '\0' && data.find('\0') == data.size() - 1) {
    return Quote(data.substr(0, data.size() - 1));
  }
  if (type == kRegMultiSz && data.size() >= 1 && data.back() == '\0') {
    std::string list;
    size_t start = 0;
    bool wellFormed = true;
    while (start < data.size() - 1) {
      size_t end = data.find('\0', start);
      if (end == start) {
        wellFormed = false;
        break;
      }
      list += (list.empty() ? "" : ", ") + Quote(data.substr(start, end - start));
      start = end + 1;
    }
    if (wellFormed && (start == data.size() - 1 || data.size() == 1)) {
      return "[" + list + "]";
    }
  }
  if (type == kRegDword && data.size() == 4) {
    uint32_t value = (uint8_t)data[0] | (uint8_t)data[1] << 8 | (uint8_t)data[2] << 16 |
                     (uint32_t)(uint8_t)data[3] << 24;
    char number[32];
    snprintf(number, sizeof number, "0x%08x (%u)", value, value);
    return number;
  }
  return Hex(data);
}

std::string DescribeStep(const PlanStep& step) {
  std::string text = StepWord(step.kind);
  text += " ";
  std::vector<std::string> details;
  switch (step.kind) {
  case kStepSize:
    text += StepPath(step) + " [" + step.section + "] " + step.name + "=" + step.text;
    break;
  case kStepFolder:
  case kStepKey:
  case kStepDeleteKey:
  case kStepRemoveKey:
    text += step.path;
    break;
  case kStepRemoveFolder:
    text += step.path + " [only where empty]";
    break;
  case kStepRemoveFile:
  case kStepStay:
    text += StepPath(step);
    break;
  case kStepRemoveIni:
    text += StepPath(step) + " [" + step.section + "] " + step.name;
    break;
  case kStepFile:
    text += step.path + " <- " + step.text;
    details.push_back(Number(step.size) + " bytes");
    break;
  case kStepRecord:
    text += step.path + " [" + step.section + "] " + step.name + "=" + step.text;
    break;
  case kStepIni:
    text += StepPath(step) + " [" + step.section + "]";
    if (!step.name.empty() || !step.text.empty()) {
      text += " " + step.name + "=" + step.text;
    }
    break;
  case kStepValue:
    text += step.path + " " + Quote(step.name) + " " + TypeText(step.type) + " " +
            DescribeValueData(step.type, step.data);
    break;
  case kStepDeleteValue:
    text += step.path + " " + Quote(step.name);
    if (!step.text.empty()) {
      text += " string " + Quote(step.text);
    }
    break;
  case kStepLink:
    text += StepPath(step) + " -> " + step.text + " in " + step.folder;
    break;
  case kStepRun:
    text += Quote(step.path);
    break;
  }
  if (step.line > 0) {
    details.push_back("line " + Number(step.line));
  }
  if (step.group > 0) {
    details.push_back("group " + Number(step.group));
  }
  if (!details.empty()) {
    std::string joined;
    for (const std::string& detail : details) {
      joined += (joined.empty() ? "" : ", ") + detail;
    }
    text += " (" + joined + ")";
  }
  if (!step.requiredKey.empty()) {
    text += " [only where " + step.requiredKey + " exists]";
  }
  if (step.valueCondition == kOnlyIfAbsent) {
    text += " [only where the value is absent]";
  } else if (step.valueCondition == kOnlyIfPresent) {
    text += " [only where the value is present]";
  }
  if (step.kind == kStepRemoveKey) {
    text += " [only where empty]";
  }
  if (!step.only.empty()) {
    text += " [" + step.only + "]";
  }
  if (!step.machine.empty()) {
    text += " [machine-dependent: " + step.machine + "]";
  }
  return text;
}

void PrintPlanText(const Plan& plan, FILE* out) {
  const char* program = plan.removal ? "uninstall.exe" : "setup.exe";
  fprintf(out, "Plan: what %s does when it %s %s\n\n", program,
          plan.removal ? "removes" : "installs", Shown(plan.appName).c_str());
  fprintf(out, "Destination: %s\n  from %s\n\n", Shown(plan.destination).c_str(),
          Shown(plan.destinationFrom).c_str());
  fprintf(out, "Groups:\n");
  for (const PlanGroup& group : plan.groups) {
    std::string choice = group.option.empty() ? "always installed"
                                              : "option " + Quote(group.option) +
                                                    (group.selected ? ", ticked" : ", cleared");
    fprintf(out, "  %d [%s] %s: %s, %d file%s, %lld bytes (%s)\n", group.number,
            Shown(group.section).c_str(), Shown(Quote(group.description)).c_str(),
            Shown(choice).c_str(), group.files, group.files == 1 ? "" : "s", (long long)group.bytes,
            group.measured ? "measured" : "SizeN");
  }
  fprintf(out, "\nSteps, in the order %s takes them:\n", program);
  for (const PlanStep& step : plan.steps) {
    fprintf(out, "  %s\n", Shown(DescribeStep(step)).c_str());
  }
  fprintf(out, "\nDepends on the machine:\n");
  for (const std::string& note : plan.machine) {
    fprintf(out, "  %s\n", Shown(note).c_str());
  }
}

void PrintPlanJson(const Plan& plan, FILE* out) {
  fprintf(out, "{%s\"app\":", plan.removal ? "\"removal\":true," : "");
  PrintJsonString(out, plan.appName);
  fprintf(out, ",\"destination\":{\"path\":");
  PrintJsonString(out, plan.destination);
  PrintJsonField(out, "from", plan.destinationFrom);
  fprintf(out, "},\"groups\":[");
  for (size_t i = 0; i < plan.groups.size(); ++i) {
    const PlanGroup& group = plan.groups[i];
    fprintf(out, "%s\n{\"group\":%d", i == 0 ? "" : ",", group.number);
    PrintJsonField(out, "section", group.section);
    PrintJsonField(out, "description", group.description);
    PrintJsonField(out, "option", group.option);
    fprintf(out, ",\"selected\":%s,\"files\":%d,\"bytes\":%lld,\"measured\":%s}",
            group.selected ? "true" : "false", group.files, (long long)group.bytes,
            group.measured ? "true" : "false");
  }
  fprintf(out, "],\"steps\":[");
  for (size_t i = 0; i < plan.steps.size(); ++i) {
    fprintf(out, "%s\n{\"step\":\"%s\"", i == 0 ? "" : ",", StepWord(plan.steps[i].kind));
    PrintJsonStep(out, plan.steps[i]);
    fprintf(out, "}");
  }
  fprintf(out, "],\"machineDependent\":[");
  for (size_t i = 0; i < plan.machine.size(); ++i) {
    fprintf(out, "%s\n", i == 0 ? "" : ",");
    PrintJsonString(out, plan.machine[i]);
  }
  fprintf(out, "]}\n");
}
