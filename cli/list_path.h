// Where a release file lies in a release folder.
#ifndef FILEDIST_CLI_LIST_PATH_H
#define FILEDIST_CLI_LIST_PATH_H

#include <string>
#include <vector>

// The components joined below base with the system's separator.
std::string JoinBelow(const std::string& base, const std::vector<std::string>& parts);

#endif  // FILEDIST_CLI_LIST_PATH_H
