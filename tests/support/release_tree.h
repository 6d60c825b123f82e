// Releases and install folders for the update engine's tests, written and
// read with independent tools: zlib for the gzip files, md5sum for keys,
// plain text parsing for lists.
#ifndef FILEDIST_TESTS_SUPPORT_RELEASE_TREE_H
#define FILEDIST_TESTS_SUPPORT_RELEASE_TREE_H

#include <map>
#include <string>

namespace testing_support {

using Tree = std::map<std::string, std::string>;     // relative path with '/' -> bytes
using KeyList = std::map<std::string, std::string>;  // list path (".\a\b") -> key

// Writes tree as a release folder below dir: every file gzip-compressed at
// its path, VerComp.dat listing ".\path,key,compressed size" and Ver with
// the list's key, both compressed.
// Keys in listed replace the true key of those list paths; bytes in served
// replace the compressed file of those tree paths, listed with their size.
void WriteRelease(const std::string& dir, const Tree& tree, const KeyList& listed = {},
                  const Tree& served = {});

// The list path of a tree path: "a/b" gives ".\a\b".
std::string ListPath(const std::string& relative);

// Every regular file below root, without the updater's own entries
// (VerComp.dat, .filedist-*) and without the names in skip.
Tree ReadInstall(const std::string& root, const std::string& skip = "");

// The records of a plain version list file; empty when there is none.
KeyList ReadListKeys(const std::string& list);

// The records of dir's VerComp.dat whose file is missing or has another key
// ("path: why"); empty when the list vouches only for bytes it describes.
std::string UnmatchedRecords(const std::string& dir);

}  // namespace testing_support

#endif  // FILEDIST_TESTS_SUPPORT_RELEASE_TREE_H
