// Paths of version list records, checked before filedist touches the disk
// with them. A list comes from a server; its paths must stay inside the
// install directory.
#ifndef FILEDIST_CLI_LIST_PATH_H
#define FILEDIST_CLI_LIST_PATH_H

#include <string>
#include <vector>

// Splits a list path such as ".\data\a.txt" into its components ("data",
// "a.txt"), either separator accepted. False, with *reason set, for a path
// that is empty, absolute, names a drive or stream (":"), or has a ".."
// component.
bool SplitListPath(const std::string& path, std::vector<std::string>* parts, std::string* reason);

// The components joined below base with the system's separator.
std::string JoinBelow(const std::string& base, const std::vector<std::string>& parts);

#endif  // FILEDIST_CLI_LIST_PATH_H
