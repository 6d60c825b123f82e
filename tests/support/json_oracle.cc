#include "support/json_oracle.h"

#include <chrono>
#include <thread>

#include "support/test_server.h"
#include "support/test_support.h"

namespace testing_support {

namespace {

// Runs python3 with the arguments (Unix paths) and writes what it printed
// and its exit status into result, whole, by rename: a Windows program
// under Wine cannot wait for a Unix one, only watch for its file.
const char kRunner[] =
    "result=$1\n"
    "shift\n"
    "python3 \"$@\" > \"$result.tmp\" 2>&1\n"
    "echo \"exit $?\" >> \"$result.tmp\"\n"
    "mv \"$result.tmp\" \"$result\"\n";

const char kPrelude[] =
    "import json, sys, os, gzip, hashlib\n"
    "with open(sys.argv[1], 'rb') as f:\n"
    "    text = f.read().decode('utf-8')\n"
    "d = json.loads(text)\n";

// Each check line indented under a function, so that a failed assert names
// its line.
std::string Indented(const std::string& checks) {
  std::string body = "def check(d):\n";
  for (const std::string& line : SplitLines(checks)) body += "    " + line + "\n";
  return body + "    pass\ncheck(d)\nprint('json checks passed')\n";
}

}  // namespace

bool CanRunPython() { return CanStartTestServers("faults"); }

std::string CheckJson(const std::string& document, const std::string& checks,
                      const std::vector<std::string>& args) {
  ScratchDir work;
  WriteFileBytes(work.Sub("doc.json"), document);
  WriteFileBytes(work.Sub("check.py"), std::string(kPrelude) + Indented(checks));
  WriteFileBytes(work.Sub("run.sh"), kRunner);
  std::vector<std::string> argv = {"/bin/sh", UnixPathOf(work.Sub("run.sh")),
                                   UnixPathOf(work.Sub("result")), UnixPathOf(work.Sub("check.py")),
                                   UnixPathOf(work.Sub("doc.json"))};
  for (const std::string& arg : args) argv.push_back(UnixPathOf(arg));
  if (!StartUnixProgram(argv)) return "python3 could not be started";
  for (int wait = 0; wait < 600 && !FileExists(work.Sub("result")); ++wait) {
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
  }
  if (!FileExists(work.Sub("result"))) return "python3 gave no answer within a minute";
  std::string said = ReadFileBytes(work.Sub("result"));
  if (said.find("json checks passed\nexit 0\n") != std::string::npos) return std::string();
  return said + "\nthe document:\n" + document;
}

}  // namespace testing_support
