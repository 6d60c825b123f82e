// filedist list VERSIONLIST: a version list as a table.
#include <cstdint>
#include <cstdio>
#include <string>

#include "cli/cli_commands.h"
#include "cli/command_line.h"
#include "cli/json_output.h"
#include "cli/version_list_text.h"
#include "cli/work_dir.h"
#include "common.h"
#include "fileio/gzip_decompress.h"

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

// The list stores a size in 32 bits; one of 2 GiB and more reads back
// negative, and is what the bits hold read as unsigned.
uint32_t StoredSize(const VersionEntry& record) { return static_cast<uint32_t>(record.size); }

}  // namespace

int RunListCommand(int argc, char** argv) {
  CommandLine line("list");
  if (int status = line.Parse(argc, argv); status >= 0) return status;
  if (line.operands().size() != 1) return line.UsageError("list takes one VERSIONLIST");
  const std::string list = line.operands()[0];
  Json json_doc = JsonDocument("list");
  json_doc["list"] = list;
  Json* doc = line.Has("json") ? &json_doc : nullptr;
  // Gzip is decoded and anything else copied as it is, as a client takes
  // its list; no further than a version list can reach.
  WorkDir work("filedist-list-");
  if (!work.ok()) return Fail("cannot make a temporary folder", doc);
  const std::string plain = work.File("VerComp.dat");
  switch (DecompressFileBounded(list.c_str(), plain.c_str(), kMostListBytes)) {
    case DecompressStatus::kOk:
      break;
    case DecompressStatus::kTooLong:
      return Fail("'" + list + "' is not a version list: it holds more than " +
                      std::to_string(kMostListBytes) + " bytes (" + std::to_string(kMostListLines) +
                      " lines of 1023 characters), the most a version list may",
                  doc);
    case DecompressStatus::kWriteError:
      return Fail("cannot write the decompressed list to '" + plain + "'", doc);
    default:
      return Fail("'" + list +
                      "' is damaged or cannot be read (missing, unreadable, or "
                      "compressed data cut short or corrupt)",
                  doc);
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
    // Sizes as the table shows them.
    Json files = Json::array();
    uint64_t total = 0;
    for (int i = 0; i < count; ++i) {
      files.push_back(
          {{"path", records[i].path}, {"key", records[i].key}, {"size", StoredSize(records[i])}});
      total += StoredSize(records[i]);
    }
    (*doc)["files"] = std::move(files);
    (*doc)["count"] = count;
    (*doc)["bytes"] = total;
    FreeVersionInfo(&records);
    PrintJson(*doc);
    return 0;
  }
  std::printf("%-32s %12s  %s\n", "KEY", "SIZE", "PATH");
  uint64_t total = 0;
  for (int i = 0; i < count; ++i) {
    std::printf("%-32s %12lu  %s\n", records[i].key,
                static_cast<unsigned long>(StoredSize(records[i])), records[i].path);
    total += StoredSize(records[i]);
  }
  std::printf("%d files, %llu bytes\n", count, static_cast<unsigned long long>(total));
  FreeVersionInfo(&records);
  return 0;
}
