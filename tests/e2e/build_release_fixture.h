// The packer set-up that the `filedist build` tests share: the real program
// copied into a packer directory of its own, since Filters.ini, VerComp.dat,
// Ver and BuildVer.log belong to the directory the program lies in, and a
// source tree beside it.
#ifndef FILEDIST_TESTS_E2E_BUILD_RELEASE_FIXTURE_H
#define FILEDIST_TESTS_E2E_BUILD_RELEASE_FIXTURE_H

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <ctime>
#include <filesystem>
#include <random>
#include <string>
#include <vector>

#include "common.h"
#include "release/release_dirs.h"
#include "platform/platform.h"
#include "support/release_oracles.h"
#include "support/test_support.h"

namespace build_e2e {

namespace fs = std::filesystem;
using testing_support::CopyProgramInto;
using testing_support::FileExists;
using testing_support::GunzipFile;
using testing_support::KeyOfBytes;
using testing_support::KeysOfBytes;
using testing_support::LogLinesWithoutTime;
using testing_support::MakeDirs;
using testing_support::ReadFileBytes;
using testing_support::ScratchDir;
using testing_support::Sep;
using testing_support::SetReadOnly;
using testing_support::SplitLines;
using testing_support::StartupDirIn;
using testing_support::WriteFileBytes;
using Strings = std::vector<std::string>;

inline const char kGenerateStage[] = "CFileVersion::GenerateFileVersionInfo";
inline const char kWriteStage[] = "CFileVersion::WriteFileVersionInfo";

inline std::string Native(const std::string& relative) {
  std::string path = relative;
  std::replace(path.begin(), path.end(), '/', Sep());
  return path;
}

inline std::string Listed(const std::string& relative) {
  std::string path = ".\\" + relative;
  std::replace(path.begin(), path.end(), '/', '\\');
  return path;
}

inline std::string ExcludedLine(const std::string& name) {
  return "\xCE\xC4\xBC\xFE [" + name +
         "] \xB8\xF9\xBE\xDD"
         "Filters.ini"
         "\xB1\xBB\xB9\xFD\xC2\xCB";
}

// Every file below dir, as relative paths with '/'.
inline Strings FilesBelow(const std::string& dir) {
  Strings files;
  for (const auto& entry : fs::recursive_directory_iterator(dir)) {
    if (!entry.is_regular_file()) continue;
    std::string relative = fs::relative(entry.path(), dir).generic_string();
    files.push_back(relative);
  }
  std::sort(files.begin(), files.end());
  return files;
}

inline bool Contains(const Strings& lines, const std::string& line) {
  return std::find(lines.begin(), lines.end(), line) != lines.end();
}

// Names of the patch directories the next `seconds` seconds would get.
inline Strings PatchNamesFromNow(int seconds) {
  plat::LocalTime now = plat::GetLocalTimeNow();
  Strings names;
  for (int k = 0; k < seconds; ++k) {
    std::tm t = {};
    t.tm_year = now.year - 1900;
    t.tm_mon = now.month - 1;
    t.tm_mday = now.day;
    t.tm_hour = now.hour;
    t.tm_min = now.minute;
    t.tm_sec = now.second + k;
    t.tm_isdst = -1;
    std::mktime(&t);
    names.push_back(PatchDirName(plat::LocalTime{t.tm_year + 1900, t.tm_mon + 1, t.tm_mday,
                                                 t.tm_hour, t.tm_min, t.tm_sec, 0}));
  }
  return names;
}

// A packer directory with the program, and a source tree beside it.
class BuildRelease : public ::testing::Test {
 protected:
  BuildRelease() : packer_(scratch_.Sub("packer")), source_(scratch_.Sub("source tree")) {
    MakeDirs(packer_);
    program_ = CopyProgramInto("filedist", packer_);
    std::mt19937 random(7);
    std::string binary(70000, '\0');
    for (char& c : binary) c = static_cast<char>(random());
    files_ = {
        {".hidden/h.txt", "hidden\n", true},
        {"a.txt", "hello\r\n", true},
        {"bin/app.bin", binary, true},
        {"bin/app.pdb", "symbols", false},
        {"docs/notes.txt", std::string(20000, 'n'), true},
        {"docs/old.bak", "old", false},
        {"docs/secret.pdb", "secret", false},
        {"empty.dat", "", true},
    };
    for (const SourceFile& file : files_) {
      std::string path = scratch_.Sub("source tree/" + file.relative);
      MakeDirs(path.substr(0, path.find_last_of(Sep())));
      WriteFileBytes(path, file.content);
    }
    WriteFileBytes(Packer("Filters.ini"), "[Ext]\r\n.pdb;.bak\r\n[Keyword]\r\nsecret\r\n");
  }

  std::string Packer(const std::string& relative) const {
    return packer_ + Sep() + Native(relative);
  }
  std::string Source(const std::string& relative) const {
    return source_ + Sep() + Native(relative);
  }

  int Build(const Strings& options, std::string* output) {
    Strings argv = {program_, "build", source_};
    argv.insert(argv.end(), options.begin(), options.end());
    return testing_support::Run(argv, output);
  }

  // Builds successfully and gives the patch directory, the last line printed.
  std::string BuildOk(const Strings& options, Strings* lines = nullptr) {
    std::string output;
    EXPECT_EQ(Build(options, &output), 0) << output;
    Strings printed = SplitLines(output);
    if (lines != nullptr) *lines = printed;
    return printed.empty() ? std::string() : printed.back();
  }

  struct SourceFile {
    std::string relative;
    std::string content;
    bool released;
  };

  ScratchDir scratch_;
  std::string packer_;
  std::string source_;
  std::string program_;
  std::vector<SourceFile> files_;
};

// BuildVer called directly by a host: relative arguments, null arguments. The
// host is this test program, with the startup directory pointed at the packer
// directory for each call.
class BuildVerHost : public BuildRelease {
 protected:
  // One host run at the given log level: "BUILD=" with BuildVer's result and
  // the patch directory it names.
  std::string BuildVerInPacker(int level, const char* source, const char* output,
                               const char* releases) {
    StartupDirIn host(packer_);
    SetLogLevel(level);
    char patch_dir[1024] = {};
    int built = BuildVer(source, output, releases, patch_dir);
    return "BUILD=" + std::to_string(built) + " " + patch_dir;
  }
  std::string BuildVerInPacker(int level, const std::string& source, const std::string& output,
                               const std::string& releases) {
    return BuildVerInPacker(level, source.c_str(), output.c_str(), releases.c_str());
  }
};

}  // namespace build_e2e

#endif  // FILEDIST_TESTS_E2E_BUILD_RELEASE_FIXTURE_H
