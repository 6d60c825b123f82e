#include <fcntl.h>
#include <stdio.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>

#include "cli/cli_platform.h"

namespace {

// The running program's full path; empty when the system cannot say.
std::string ProgramPath() {
  char buffer[4096];
  ssize_t length = readlink("/proc/self/exe", buffer, sizeof(buffer) - 1);
  if (length <= 0 || static_cast<size_t>(length) >= sizeof(buffer) - 1) return std::string();
  return std::string(buffer, static_cast<size_t>(length));
}

}  // namespace

std::string ProgramDirectory() {
  std::string path = ProgramPath();
  size_t slash = path.find_last_of('/');
  return slash == std::string::npos ? std::string() : path.substr(0, slash == 0 ? 1 : slash);
}

std::string ProgramFileName() {
  std::string path = ProgramPath();
  return path.substr(path.find_last_of('/') + 1);
}

FILE* CreateNewFile(const std::string& path, bool ownerOnly) {
  int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, ownerOnly ? 0600 : 0644);
  if (fd < 0) return nullptr;
  // The umask may only take bits away; the mode asked for is what counts.
  if (ownerOnly) fchmod(fd, 0600);
  FILE* file = fdopen(fd, "wb");
  if (file == nullptr) close(fd);
  return file;
}

bool IsTerminal(FILE* stream) { return isatty(fileno(stream)) != 0; }

// Every terminal of these systems takes the escapes, but for one that says
// it is dumb (an editor's shell buffer).
bool TerminalTakesEscapes(FILE*) {
  const char* term = std::getenv("TERM");
  return term == nullptr || std::strcmp(term, "dumb") != 0;
}

QuietStdout::QuietStdout() {
  std::fflush(stdout);
  int null_fd = open("/dev/null", O_WRONLY | O_CLOEXEC);
  if (null_fd < 0) return;
  saved_ = dup(STDOUT_FILENO);
  if (saved_ >= 0) dup2(null_fd, STDOUT_FILENO);
  close(null_fd);
}

QuietStdout::~QuietStdout() {
  if (saved_ < 0) return;
  std::fflush(stdout);
  dup2(saved_, STDOUT_FILENO);
  close(saved_);
}
