#include "support/test_support.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cctype>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <random>
#include <sstream>
#include <stdexcept>

#include "log/logger.h"
#include "platform/file_links.h"
#include "platform/platform.h"
#include "platform/startup_directory.h"

namespace fs = std::filesystem;

namespace testing_support {

ScratchDir::ScratchDir() {
  static std::atomic<unsigned> counter{0};
  std::random_device seed;
  fs::path base = fs::temp_directory_path();
  for (int attempt = 0; attempt < 100; ++attempt) {
    std::string name = "filedist-test-" + std::to_string(seed()) + "-" + std::to_string(counter++);
    fs::path candidate = base / name;
    std::error_code error;
    if (fs::create_directory(candidate, error)) {
      path_ = candidate.string();
      return;
    }
  }
  throw std::runtime_error("cannot make a scratch directory");
}

ScratchDir::~ScratchDir() {
  std::error_code error;
  // Read-only files left by a test must not keep the directory alive.
  for (auto it = fs::recursive_directory_iterator(path_, error);
       !error && it != fs::recursive_directory_iterator(); it.increment(error)) {
    fs::permissions(it->path(), fs::perms::owner_write, fs::perm_options::add, error);
  }
  fs::remove_all(path_, error);
}

std::string ScratchDir::Sub(const std::string& relative) const {
  std::string result = path_;
  result.push_back(Sep());
  for (char c : relative) result.push_back(c == '/' ? Sep() : c);
  return result;
}

char Sep() { return plat::kPathSeparator; }

void WriteFileBytes(const std::string& path, const std::string& bytes) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  if (!out) throw std::runtime_error("cannot write " + path);
  out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
}

std::string ReadFileBytes(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) throw std::runtime_error("cannot read " + path);
  std::ostringstream content;
  content << in.rdbuf();
  return content.str();
}

std::vector<OtherName> OtherNamesOf(const std::string& path) {
  size_t slash = plat::FindLastSeparator(path);
  std::string dir = path.substr(0, slash);
  std::string name = path.substr(slash + 1);
  std::vector<OtherName> names = {{"dot segment", dir + Sep() + "." + Sep() + name}};
  std::string hard = dir + Sep() + "hard link to " + name;
  if (plat::LinkFile(path.c_str(), hard.c_str())) names.push_back({"hard link", hard});
  std::string symbolic = dir + Sep() + "symbolic link to " + name;
  std::error_code error;
  fs::create_symlink(name, symbolic, error);
  if (!error) names.push_back({"symbolic link", symbolic});
  if (Sep() == '\\') {
    std::string upper = name;
    for (char& c : upper) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    EXPECT_NE(upper, name) << "give the file a name with lower-case letters";
    names.push_back({"other letter case", dir + Sep() + upper});
  }
  return names;
}

bool FileExists(const std::string& path) {
  std::error_code error;
  return fs::exists(path, error);
}

void MakeDirs(const std::string& path) { fs::create_directories(path); }

std::vector<std::string> NamesIn(const std::string& dir) {
  std::vector<plat::DirEntry> entries;
  EXPECT_TRUE(plat::ListDirectory(dir, &entries)) << dir;
  std::vector<std::string> names;
  for (const plat::DirEntry& entry : entries) names.push_back(entry.name);
  return names;
}

void SetReadOnly(const std::string& path, bool read_only) {
  fs::permissions(path, fs::perms::owner_write | fs::perms::group_write | fs::perms::others_write,
                  read_only ? fs::perm_options::remove : fs::perm_options::add);
}

StartupDirIn::StartupDirIn(const std::string& dir) {
  plat::SetStartupDirectory(dir);
  Logger::Instance().Reset();
}

StartupDirIn::~StartupDirIn() {
  Logger::Instance().Reset();
  plat::SetStartupDirectory(std::string());
}

std::string TestProgramDir() {
  std::string path;
  if (!plat::GetExecutablePath(&path)) throw std::runtime_error("no executable path");
  return path.substr(0, plat::FindLastSeparator(path));
}

std::string CopyProgramInto(const std::string& name, const std::string& dir) {
  std::string file = name + plat::kExecutableSuffix;
  std::string from = TestProgramDir() + Sep() + file;
  std::string to = dir + Sep() + file;
  fs::copy_file(from, to, fs::copy_options::overwrite_existing);
  return to;
}

int Run(const std::vector<std::string>& argv, std::string* output) {
  std::string raw;
  int status = plat::RunProgram(argv, &raw);
  if (output != nullptr) {
    output->clear();
    for (size_t i = 0; i < raw.size(); ++i) {
      if (raw[i] == '\r' && i + 1 < raw.size() && raw[i + 1] == '\n') continue;
      output->push_back(raw[i]);
    }
  }
  return status;
}

std::vector<std::string> SplitLines(const std::string& text) {
  std::vector<std::string> lines;
  std::string line;
  std::istringstream in(text);
  while (std::getline(in, line)) {
    if (!line.empty() && line.back() == '\r') line.pop_back();
    lines.push_back(line);
  }
  return lines;
}

std::vector<std::string> LogLinesWithoutTime(const std::string& log_path) {
  std::vector<std::string> lines;
  if (!FileExists(log_path)) return lines;
  // "YYYY-MM-DD HH:MM:SS:mmm " is 24 characters.
  for (const std::string& line : SplitLines(ReadFileBytes(log_path))) {
    lines.push_back(line.size() > 24 ? line.substr(24) : line);
  }
  return lines;
}

}  // namespace testing_support
