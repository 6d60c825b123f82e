#include <windows.h>
#include <fcntl.h>
#include <io.h>
#include <sys/stat.h>

#include "cli/cli_platform.h"

namespace {

// The running program's full path; empty when the system cannot say.
std::string ProgramPath() {
  char buffer[1024] = {};
  DWORD length = GetModuleFileNameA(nullptr, buffer, sizeof(buffer));
  if (length == 0 || length >= sizeof(buffer) - 1) return std::string();
  return std::string(buffer, length);
}

}  // namespace

std::string ProgramDirectory() {
  std::string path = ProgramPath();
  size_t separator = path.find_last_of("\\/");
  return separator == std::string::npos ? std::string() : path.substr(0, separator);
}

std::string ProgramFileName() {
  std::string path = ProgramPath();
  return path.substr(path.find_last_of("\\/") + 1);
}

// Windows keeps no owner-only mode bits; a private key file takes the
// permissions of the folder it is made in.
FILE* CreateNewFile(const std::string& path, bool) {
  int fd = _open(path.c_str(), _O_WRONLY | _O_CREAT | _O_EXCL | _O_BINARY, _S_IREAD | _S_IWRITE);
  if (fd < 0) return nullptr;
  FILE* file = _fdopen(fd, "wb");
  if (file == nullptr) _close(fd);
  return file;
}

bool IsTerminal(FILE* stream) { return _isatty(_fileno(stream)) != 0; }

#ifndef ENABLE_VIRTUAL_TERMINAL_PROCESSING
#  define ENABLE_VIRTUAL_TERMINAL_PROCESSING 0x0004
#endif

// A console before Windows 10 (and some others) refuses the mode: it would
// print an escape as text.
bool TerminalTakesEscapes(FILE* stream) {
  HANDLE console = reinterpret_cast<HANDLE>(_get_osfhandle(_fileno(stream)));
  DWORD mode = 0;
  if (console == INVALID_HANDLE_VALUE || !GetConsoleMode(console, &mode)) return false;
  if (mode & ENABLE_VIRTUAL_TERMINAL_PROCESSING) return true;
  return SetConsoleMode(console, mode | ENABLE_VIRTUAL_TERMINAL_PROCESSING) != 0;
}

QuietStdout::QuietStdout() {
  std::fflush(stdout);
  int null_fd = _open("NUL", _O_WRONLY);
  if (null_fd < 0) return;
  saved_ = _dup(_fileno(stdout));
  if (saved_ >= 0) _dup2(null_fd, _fileno(stdout));
  _close(null_fd);
}

QuietStdout::~QuietStdout() {
  if (saved_ < 0) return;
  std::fflush(stdout);
  _dup2(saved_, _fileno(stdout));
  _close(saved_);
}
