// Checking the program's --json documents with an independent reader:
// python3's json module, run as a Unix program (through Wine's Unix side for
// the Windows test programs), with checks written in python.
#ifndef FILEDIST_TESTS_SUPPORT_JSON_ORACLE_H
#define FILEDIST_TESTS_SUPPORT_JSON_ORACLE_H

#include <string>
#include <vector>

namespace testing_support {

// Runs a program with its standard output and its standard error kept
// apart (both as written: no line ends turned). Returns the exit status, or
// -1 when the program could not be started.
int RunApart(const std::vector<std::string>& argv, std::string* out, std::string* err);

// True when python3 can be started from this test program.
bool CanRunPython();

// Loads document with json.load (the whole text must be one JSON document)
// as d, and runs checks, python statements (asserts) that may also use
// sys.argv[2:], the Unix paths of args (files or folders of the test). The
// empty string when every check held; else what python said, with the
// document.
std::string CheckJson(const std::string& document, const std::string& checks,
                      const std::vector<std::string>& args = {});

}  // namespace testing_support

#endif  // FILEDIST_TESTS_SUPPORT_JSON_ORACLE_H
