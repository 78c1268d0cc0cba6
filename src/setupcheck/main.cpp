// setupcheck [--sizes] [--cluster N] [--json] DISTRIBUTION-FOLDER
// Reports what setup.exe would make of a distribution folder, as GNU-style diagnostics or JSON.
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include <string>

#include "checker.h"
#include "setup_script/text_rules.h"

namespace {

const char kUsage[] = "usage: setupcheck [--sizes] [--cluster N] [--json] DISTRIBUTION-FOLDER\n";
const char kFileName[] = "SETUP.DAT";

// JSON strings: the text's bytes above 127 are taken as Latin-1, so any SETUP.DAT gives valid
// output.
void PrintJsonString(const std::string& text) {
  putchar('"');
  for (unsigned char c : text) {
    if (c == '"' || c == '\\') {
      printf("\\%c", c);
    } else if (c < 0x20 || c >= 0x7F) {
      printf("\\u%04x", c);
    } else {
      putchar(c);
    }
  }
  putchar('"');
}

void PrintJson(const CheckResult& result, bool withSizes) {
  int errors = CountErrors(result);
  printf("{\"file\":\"%s\",\"errors\":%d,\"warnings\":%d,\"findings\":[", kFileName, errors,
         (int)result.findings.size() - errors);
  for (size_t i = 0; i < result.findings.size(); ++i) {
    const Finding& finding = result.findings[i];
    printf(i == 0 ? "\n" : ",\n");
    if (finding.line > 0) {
      printf("{\"line\":%d,", finding.line);
    } else {
      printf("{\"line\":null,");
    }
    printf("\"severity\":\"%s\",\"message\":", finding.severity == kError ? "error" : "warning");
    PrintJsonString(finding.text);
    printf("}");
  }
  printf("]");
  if (withSizes) {
    printf(",\"sizes\":[");
    for (size_t i = 0; i < result.sizes.size(); ++i) {
      char entry[80];
      FormatText(entry, sizeof entry, "{\"key\":\"Size%d\",\"bytes\":%d}", result.sizes[i].group,
                 (int)result.sizes[i].bytes);
      printf("%s%s", i == 0 ? "" : ",", entry);
    }
    printf("]");
  }
  printf("}\n");
}

void PrintText(const CheckResult& result, bool withSizes) {
  for (const Finding& finding : result.findings) {
    const char* severity = finding.severity == kError ? "error" : "warning";
    if (finding.line > 0) {
      printf("%s:%d: %s: %s\n", kFileName, finding.line, severity, finding.text.c_str());
    } else {
      printf("%s: %s: %s\n", kFileName, severity, finding.text.c_str());
    }
  }
  if (withSizes) {
    // The figures setup.exe writes to sizes.txt, ready for the [KVSetup] section.
    for (const MeasuredSize& size : result.sizes) {
      char line[48];
      FormatText(line, sizeof line, "Size%d=%d", size.group, (int)size.bytes);
      printf("%s\n", line);
    }
  }
}

bool ParseCluster(const char* text, long* cluster) {
  char* end = nullptr;
  long value = strtol(text, &end, 10);
  if (end == text || *end != '\0' || value < 1 || value > 64L * 1024 * 1024) {
    return false;
  }
  *cluster = value;
  return true;
}

} // namespace

int main(int argc, char** argv) {
  bool sizes = false;
  bool json = false;
  long cluster = kDefaultClusterSize;
  const char* folder = nullptr;
  for (int i = 1; i < argc; ++i) {
    if (strcmp(argv[i], "--sizes") == 0) {
      sizes = true;
    } else if (strcmp(argv[i], "--json") == 0) {
      json = true;
    } else if (strcmp(argv[i], "--cluster") == 0 && i + 1 < argc) {
      if (!ParseCluster(argv[++i], &cluster)) {
        fprintf(stderr, "setupcheck: --cluster needs a size in bytes from 1 to 67108864\n");
        return 2;
      }
    } else if (argv[i][0] == '-' && argv[i][1] != '\0') {
      fprintf(stderr, "setupcheck: unknown option %s\n%s", argv[i], kUsage);
      return 2;
    } else if (folder == nullptr) {
      folder = argv[i];
    } else {
      fprintf(stderr, "%s", kUsage);
      return 2;
    }
  }
  if (folder == nullptr) {
    fprintf(stderr, "%s", kUsage);
    return 2;
  }
  CheckResult result;
  CheckDistribution(folder, cluster, &result);
  if (result.folderMissing) {
    fprintf(stderr, "setupcheck: %s: no such folder\n", folder);
    return 1;
  }
  if (json) {
    PrintJson(result, sizes);
  } else {
    PrintText(result, sizes);
  }
  return CountErrors(result) > 0 ? 1 : 0;
}
