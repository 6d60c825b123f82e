#include <sys/wait.h>
#include <unistd.h>

#include "support/test_server.h"

namespace testing_support {

std::string UnixPathOf(const std::string& path) { return path; }

bool StartUnixProgram(const std::vector<std::string>& argv) {
  pid_t child = fork();
  if (child < 0) return false;
  if (child == 0) {
    std::vector<char*> args;
    for (const std::string& arg : argv) args.push_back(const_cast<char*>(arg.c_str()));
    args.push_back(nullptr);
    execv(args[0], args.data());
    _exit(127);
  }
  // The scripts return once their server listens; waiting keeps no zombie.
  int status = 0;
  waitpid(child, &status, 0);
  return WIFEXITED(status) && WEXITSTATUS(status) != 127;
}

}  // namespace testing_support
