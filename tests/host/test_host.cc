// A host program for tests whose answers depend on the host executable's
// directory. Each argument pair is one step, run in order:
//   level N         SetLogLevel(N)
//   error TEXT      one line through LogError (warning, info, debug alike)
//   startup         prints GetStartupDir's result
//   logpath         prints the log file's path
//   resolve PATH    prints IOUtil_ResolvePath(PATH, startup directory)
//   updatelist NEW LOCAL  prints GenerateUpdateList's records, one
//                   "flag,size,path,key" line each, then "total N"
//   key PATH        GetFileKey(PATH), then prints "KEY=" and the key
//   mkdir PATH      makes one directory (to block the log file's name)
//   rmdir PATH      removes an empty directory
//   compress SRC DST  prints IOUtil_CompressFile's result
//   buildver SRC OUT REL  BuildVer ("-" passes a null pointer), then prints
//                   "BUILD=" with the result and the patch directory
//   fsizelimit N    no file may grow past N bytes from here on; prints
//                   "NOLIMIT" where the system has no such limit
//   makeclient SRC DST  prints MakeClientFile's result as "CLIENT=n"
//   updateclient PATH KEY SIZE LIST  UpdateClientVersionInfo of that
//                   record, then prints "UPDATE=n"
// Prints "FAIL" for a step that fails and exits 1 on an unknown step.
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "common.h"
#include "fileio/gzip_compress.h"
#include "fileio/io_util.h"
#include "host/file_size_limit.h"
#include "log/logger.h"
#include "platform/platform.h"

int main(int argc, char** argv) {
  for (int i = 1; i < argc; ++i) {
    std::string step = argv[i];
    const char* arg = i + 1 < argc ? argv[i + 1] : "";
    if (step == "level") {
      SetLogLevel(std::atoi(arg));
      ++i;
    } else if (step == "error") {
      LogError() << arg;
      ++i;
    } else if (step == "warning") {
      LogWarning() << arg;
      ++i;
    } else if (step == "info") {
      LogInfo() << arg;
      ++i;
    } else if (step == "debug") {
      LogDebug() << arg;
      ++i;
    } else if (step == "startup") {
      char dir[1024];
      std::printf("%s\n", GetStartupDir(dir, sizeof(dir)) ? dir : "FAIL");
    } else if (step == "logpath") {
      std::printf("%s\n", Logger::GetLogFilePath().c_str());
    } else if (step == "resolve") {
      char dir[1024];
      std::string resolved = GetStartupDir(dir, sizeof(dir)) ? IOUtil_ResolvePath(arg, dir) : "";
      std::printf("%s\n", resolved.empty() ? "FAIL" : resolved.c_str());
      ++i;
    } else if (step == "fsizelimit") {
      if (!LimitFileSize(std::strtoull(arg, nullptr, 10))) std::printf("NOLIMIT\n");
      ++i;
    } else if (step == "makeclient" && i + 2 < argc) {
      std::printf("CLIENT=%d\n", MakeClientFile(argv[i + 1], argv[i + 2]));
      i += 2;
    } else if (step == "updateclient" && i + 4 < argc) {
      VersionEntry entry;
      std::memset(&entry, 0, sizeof(entry));
      std::snprintf(entry.path, sizeof(entry.path), "%s", argv[i + 1]);
      std::snprintf(entry.key, sizeof(entry.key), "%s", argv[i + 2]);
      entry.size = std::atoi(argv[i + 3]);
      std::printf("UPDATE=%d\n", UpdateClientVersionInfo(argv[i + 4], entry));
      i += 4;
    } else if (step == "key") {
      char key[33];
      GetFileKey(arg, key);
      std::printf("KEY=%s\n", key);
      ++i;
    } else if (step == "mkdir") {
      if (plat::MakeOneDirectory(arg) != plat::MakeDirResult::kCreated) std::printf("FAIL\n");
      ++i;
    } else if (step == "rmdir") {
      if (!plat::RemoveEmptyDirectory(arg)) std::printf("FAIL\n");
      ++i;
    } else if (step == "updatelist") {
      const char* local = i + 2 < argc ? argv[i + 2] : "";
      VersionEntry* records = nullptr;
      int count = 0;
      int total = 0;
      if (GenerateUpdateList(arg, local, &records, &count, &total)) {
        for (int r = 0; r < count; ++r) {
          std::printf("%d,%d,%s,%s\n", records[r].flag, records[r].size, records[r].path,
                      records[r].key);
        }
        std::printf("total %d\n", total);
        FreeUpdateList(&records);
      } else {
        std::printf("FAIL\n");
      }
      i += 2;
    } else if (step == "compress") {
      const char* dst = i + 2 < argc ? argv[i + 2] : "";
      std::printf("%s\n", std::to_string(IOUtil_CompressFile(arg, dst)).c_str());
      i += 2;
    } else if (step == "buildver") {
      const char* args[3] = {};
      for (int k = 0; k < 3; ++k) {
        const char* value = i + 1 + k < argc ? argv[i + 1 + k] : "-";
        args[k] = std::strcmp(value, "-") == 0 ? nullptr : value;
      }
      char patch_dir[1024] = {};
      int built = BuildVer(args[0], args[1], args[2], patch_dir);
      std::printf("BUILD=%d %s\n", built, patch_dir);
      i += 3;
    } else {
      std::fprintf(stderr, "test_host: unknown step '%s'\n", argv[i]);
      return 1;
    }
  }
  return 0;
}
