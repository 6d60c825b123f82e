#include "support/release_tree.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <vector>

#include "support/gzip_oracle.h"
#include "support/release_oracles.h"
#include "support/test_support.h"

namespace testing_support {

namespace fs = std::filesystem;

std::string ListPath(const std::string& relative) {
  std::string path = ".\\" + relative;
  for (char& c : path) {
    if (c == '/') c = '\\';
  }
  return path;
}

void WriteRelease(const std::string& dir, const Tree& tree, const KeyList& listed,
                  const Tree& served) {
  std::vector<std::string> contents;
  for (const auto& entry : tree) contents.push_back(entry.second);
  std::vector<std::string> keys = KeysOfBytes(contents);
  std::string list;
  size_t index = 0;
  for (const auto& [relative, bytes] : tree) {
    fs::path path = fs::path(dir) / fs::path(relative);
    fs::create_directories(path.parent_path());
    auto replaced = served.find(relative);
    std::string gz = replaced != served.end() ? replaced->second : ZlibGzip(bytes);
    WriteFileBytes(path.string(), gz);
    std::string key = keys[index++];
    auto forged = listed.find(ListPath(relative));
    if (forged != listed.end()) key = forged->second;
    list += ListPath(relative) + "," + key + "," + std::to_string(gz.size()) + "\r\n";
  }
  fs::create_directories(dir);
  WriteFileBytes((fs::path(dir) / "VerComp.dat").string(), ZlibGzip(list));
  WriteFileBytes((fs::path(dir) / "Ver").string(), ZlibGzip(KeyOfBytes(list) + "\r\n"));
}

Tree ReadInstall(const std::string& root, const std::string& skip) {
  Tree tree;
  for (auto it = fs::recursive_directory_iterator(root); it != fs::recursive_directory_iterator();
       ++it) {
    std::string relative = fs::relative(it->path(), root).generic_string();
    if (relative.compare(0, 10, ".filedist-") == 0) {
      it.disable_recursion_pending();
      continue;
    }
    if (!it->is_regular_file() || relative == "VerComp.dat" || relative == skip) continue;
    tree[relative] = ReadFileBytes(it->path().string());
  }
  return tree;
}

KeyList ReadListKeys(const std::string& list) {
  KeyList keys;
  if (!FileExists(list)) return keys;
  for (const std::string& line : SplitLines(ReadFileBytes(list))) {
    size_t first = line.find(',');
    size_t second = line.find(',', first + 1);
    if (first == std::string::npos || second == std::string::npos) continue;
    keys[line.substr(0, first)] = line.substr(first + 1, second - first - 1);
  }
  return keys;
}

std::string UnmatchedRecords(const std::string& dir) {
  // The files present are keyed together, with one run of md5sum.
  std::vector<std::pair<std::string, std::string>> present;  // list path, key
  std::vector<std::string> contents;
  std::string unmatched;
  for (const auto& [path, key] : ReadListKeys((fs::path(dir) / "VerComp.dat").string())) {
    std::string relative = path.substr(2);
    for (char& c : relative) {
      if (c == '\\') c = '/';
    }
    fs::path file = fs::path(dir) / fs::path(relative);
    if (!fs::is_regular_file(file)) {
      unmatched += path + ": missing\n";
    } else {
      present.emplace_back(path, key);
      contents.push_back(ReadFileBytes(file.string()));
    }
  }
  std::vector<std::string> keys = KeysOfBytes(contents);
  for (size_t i = 0; i < present.size(); ++i) {
    if (keys[i] != present[i].second) unmatched += present[i].first + ": other bytes\n";
  }
  return unmatched;
}

}  // namespace testing_support
