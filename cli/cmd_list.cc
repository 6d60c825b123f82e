// filedist list VERSIONLIST: a version list as a table.
#include <cstdio>
#include <string>

#include "cli/cli_commands.h"
#include "cli/command_line.h"
#include "cli/json_output.h"
#include "cli/version_list_text.h"
#include "cli/work_dir.h"
#include "common.h"

namespace {

// Says why on standard error; with --json the document says it too.
int Fail(const std::string& text, Json* doc) {
  std::fprintf(stderr, "filedist: %s\n", text.c_str());
  if (doc != nullptr) {
    SetJsonFailure(doc, text);
    PrintJson(*doc);
  }
  return 1;
}

}  // namespace

int RunListCommand(int argc, char** argv) {
  CommandLine line("list");
  if (int status = line.Parse(argc, argv); status >= 0) return status;
  if (line.operands().size() != 1) return line.UsageError("list takes one VERSIONLIST");
  const std::string list = line.operands()[0];
  Json json_doc = JsonDocument("list");
  json_doc["list"] = list;
  Json* doc = line.Has("json") ? &json_doc : nullptr;
  // MakeClientFile decodes gzip and copies anything else as it is, so plain
  // and compressed lists take the same road a client's list takes.
  WorkDir work("filedist-list-");
  if (!work.ok()) return Fail("cannot make a temporary folder", doc);
  const std::string plain = work.File("VerComp.dat");
  if (!MakeClientFile(list.c_str(), plain.c_str())) {
    return Fail("'" + list + "' is damaged or cannot be read (missing, unreadable, or "
                "compressed data cut short or corrupt)", doc);
  }
  std::string problem;
  if (!CheckVersionListText(plain, &problem)) {
    return Fail("'" + list + "' is not a version list: " + problem, doc);
  }
  VersionEntry* records = nullptr;
  int count = 0;
  if (!LoadVersionInfo(plain.c_str(), &records, &count)) {
    return Fail("'" + list + "' cannot be read", doc);
  }
  if (doc != nullptr) {
    // Sizes as the list holds them, as the table shows them.
    Json files = Json::array();
    long long total = 0;
    for (int i = 0; i < count; ++i) {
      files.push_back({{"path", records[i].path}, {"key", records[i].key},
                       {"size", records[i].size}});
      total += records[i].size;
    }
    (*doc)["files"] = std::move(files);
    (*doc)["count"] = count;
    (*doc)["bytes"] = total;
    FreeVersionInfo(&records);
    PrintJson(*doc);
    return 0;
  }
  std::printf("%-32s %12s  %s\n", "KEY", "SIZE", "PATH");
  long long total = 0;
  for (int i = 0; i < count; ++i) {
    std::printf("%-32s %12d  %s\n", records[i].key, records[i].size, records[i].path);
    total += records[i].size;
  }
  std::printf("%d files, %lld bytes\n", count, total);
  FreeVersionInfo(&records);
  return 0;
}
