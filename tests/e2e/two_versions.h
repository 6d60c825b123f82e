// Two versions of a small install tree that the update end-to-end tests
// release one after the other: a file kept, one changed, one dropped, one
// added in a new nested folder (with a name holding a space and bytes that
// look like a gzip header), and one large enough to take several reads.
#ifndef FILEDIST_TESTS_E2E_TWO_VERSIONS_H
#define FILEDIST_TESTS_E2E_TWO_VERSIONS_H

#include <map>
#include <string>

namespace two_versions {

using Tree = std::map<std::string, std::string>;  // relative path with '/' -> bytes

inline const Tree kVersion1 = {
    {"bin/app.exe", "program, version 1"},
    {"data/a.txt", "data a, version 1"},
    {"old.txt", "a file that version 2 drops"},
    {"readme.txt", std::string(100000, 'r')},
};

inline const Tree kVersion2 = {
    {"bin/app.exe", "program, version 1"},
    {"data/a.txt", "data a, version 2, longer than before"},
    {"new folder/sub/n.bin", std::string("\x1f\x8b binary that looks like gzip \0\1\2", 34)},
    {"readme.txt", std::string(100000, 'r')},
};

}  // namespace two_versions

#endif  // FILEDIST_TESTS_E2E_TWO_VERSIONS_H
