// RunApart on POSIX: the child's standard output and error go to files of
// their own, read once it has ended.
#include <errno.h>
#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

#include "support/json_oracle.h"
#include "support/test_support.h"

namespace testing_support {

int RunApart(const std::vector<std::string>& argv, std::string* out, std::string* err) {
  if (argv.empty()) return -1;
  ScratchDir work;
  const std::string out_path = work.Sub("stdout");
  const std::string err_path = work.Sub("stderr");
  pid_t pid = fork();
  if (pid < 0) return -1;
  if (pid == 0) {
    int in = open("/dev/null", O_RDONLY);
    int out_fd = open(out_path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    int err_fd = open(err_path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    if (in < 0 || out_fd < 0 || err_fd < 0) _exit(127);
    dup2(in, 0);
    dup2(out_fd, 1);
    dup2(err_fd, 2);
    std::vector<char*> args;
    for (const std::string& arg : argv) args.push_back(const_cast<char*>(arg.c_str()));
    args.push_back(nullptr);
    execv(args[0], args.data());
    _exit(127);
  }
  int status = 0;
  while (waitpid(pid, &status, 0) < 0) {
    if (errno != EINTR) return -1;
  }
  *out = FileExists(out_path) ? ReadFileBytes(out_path) : std::string();
  *err = FileExists(err_path) ? ReadFileBytes(err_path) : std::string();
  if (!WIFEXITED(status)) return 128 + (WIFSIGNALED(status) ? WTERMSIG(status) : 0);
  return WEXITSTATUS(status) == 127 ? -1 : WEXITSTATUS(status);
}

}  // namespace testing_support
