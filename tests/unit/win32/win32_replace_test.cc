// A file replaced while another handle reads it, as `filedist status`
// reads the install record while an update writes the next one, or another
// program (a virus scan) reads a file without sharing its renaming. Windows
// renames over no open file, so the replace waits for the reader to let go.
#include <windows.h>

#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "platform/file_safety.h"
#include "platform/platform.h"
#include "support/test_support.h"

namespace {

using testing_support::ReadFileBytes;
using testing_support::ScratchDir;
using testing_support::WriteFileBytes;

std::wstring Wide(const std::string& path) { return std::wstring(path.begin(), path.end()); }

// The platform's own ways of opening a file for reading.
const struct PlatformReader {
  const char* name;
  FILE* (*open)(const char* path);
} kPlatformReaders[] = {
    {"a state file read by the platform",
     [](const char* path) { return plat::OpenRegularFile(path, false); }},
    {"a file read by the platform, links followed",
     [](const char* path) { return plat::OpenRegularFile(path); }},
    {"a file being keyed", [](const char* path) { return plat::OpenFileDenyWrite(path); }},
};

TEST(Win32Replace, AReaderOfTheTargetIsWaitedFor) {
  // Each opens the file for reading and returns what closes it again.
  struct Reader {
    std::string name;
    std::function<std::function<void()>(const std::string& path)> open;
  };
  std::vector<Reader> readers;
  for (const PlatformReader& platform : kPlatformReaders) {
    readers.push_back({platform.name, [&platform](const std::string& path) {
                         FILE* file = platform.open(path.c_str());
                         EXPECT_NE(file, nullptr);
                         return std::function<void()>([file] {
                           if (file != nullptr) std::fclose(file);
                         });
                       }});
  }
  readers.push_back({"another program, sharing no renaming",
                     [](const std::string& path) -> std::function<void()> {
                       HANDLE handle = CreateFileW(Wide(path).c_str(), GENERIC_READ,
                                                   FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                                   OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
                       EXPECT_NE(handle, INVALID_HANDLE_VALUE);
                       return [handle] { CloseHandle(handle); };
                     }});
  for (const Reader& reader : readers) {
    SCOPED_TRACE(reader.name);
    ScratchDir scratch;
    std::string target = scratch.Sub("state.txt");
    std::string next = scratch.Sub("state.txt.new");
    WriteFileBytes(target, "old");
    WriteFileBytes(next, "new");
    std::function<void()> close = reader.open(target);
    std::thread letting_go([&] {
      std::this_thread::sleep_for(std::chrono::milliseconds(300));
      close();
    });
    bool replaced = plat::ReplaceFileAtomically(next.c_str(), target.c_str());
    std::string reason = replaced ? "" : plat::LastErrorText();
    letting_go.join();
    EXPECT_TRUE(replaced) << reason;
    EXPECT_EQ(ReadFileBytes(target), "new");
    EXPECT_FALSE(testing_support::FileExists(next));
  }
}

// A file that the platform reads can be moved aside meanwhile, as an update
// moves an installed file that it cannot replace; the reader reads on.
TEST(Win32Replace, APlatformReaderLetsTheFileBeMovedAside) {
  for (const PlatformReader& reader : kPlatformReaders) {
    SCOPED_TRACE(reader.name);
    ScratchDir scratch;
    std::string target = scratch.Sub("app.dll");
    std::string aside = scratch.Sub("app.dll.old");
    WriteFileBytes(target, "old");
    FILE* file = reader.open(target.c_str());
    ASSERT_NE(file, nullptr);
    EXPECT_TRUE(plat::RenameNoReplace(target, aside)) << plat::LastErrorText();
    char bytes[8] = {};
    EXPECT_EQ(std::string(bytes, std::fread(bytes, 1, sizeof bytes, file)), "old");
    std::fclose(file);
  }
}

}  // namespace
