// The little the filedist program needs from the operating system beyond
// the library and the standard library. Each system has its own file,
// chosen by the build.
#ifndef FILEDIST_CLI_CLI_PLATFORM_H
#define FILEDIST_CLI_CLI_PLATFORM_H

#include <cstdio>
#include <string>

// Directory of the running filedist program file, without a trailing
// separator; empty when it cannot be found.
std::string ProgramDirectory();
// The running filedist program file's own name; empty when it cannot be found.
std::string ProgramFileName();

// True when stream is attached to a terminal.
bool IsTerminal(FILE* stream);
// True when the terminal stream is attached to interprets escape sequences
// (such as the one that clears the rest of a line); a Windows console is
// asked to, and one that cannot prints them as text.
bool TerminalTakesEscapes(FILE* stream);

// Creates a file that must not exist yet and opens it for binary writing;
// null when it exists or cannot be made. ownerOnly: readable and writable by
// its owner alone (mode 0600 on POSIX), for a private key.
FILE* CreateNewFile(const std::string& path, bool ownerOnly);

// Sends standard output to the null device for as long as it lives: the
// library prints a line for every file key it computes.
class QuietStdout {
 public:
  QuietStdout();
  ~QuietStdout();
  QuietStdout(const QuietStdout&) = delete;
  QuietStdout& operator=(const QuietStdout&) = delete;

 private:
  int saved_ = -1;
};

#endif  // FILEDIST_CLI_CLI_PLATFORM_H
