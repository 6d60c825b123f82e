// Under Wine a Windows program can start a Unix program by its path on the
// drive that maps the Unix root, but cannot wait for it: the callers poll
// for the files the program writes. On Windows itself there are no Unix
// programs, and the tests that need them skip.
//
// Wine makes no Windows process for a Unix program: CreateProcess reports
// success with handles and ids left over on its own stack. Closing them
// once closed this test program's standard output (handle 0xf, taken as
// 0xc), and a whole test session went on without a word to its end.
#include <windows.h>

#include "support/test_server.h"

namespace testing_support {

std::string UnixPathOf(const std::string& path) {
  using ToUnix = char*(CDECL*)(const WCHAR*);
  static const ToUnix to_unix = reinterpret_cast<ToUnix>(reinterpret_cast<void*>(
      GetProcAddress(GetModuleHandleA("kernel32.dll"), "wine_get_unix_file_name")));
  if (to_unix == nullptr) return std::string();
  int length = MultiByteToWideChar(CP_ACP, 0, path.c_str(), -1, nullptr, 0);
  std::wstring wide(static_cast<size_t>(length), L'\0');
  MultiByteToWideChar(CP_ACP, 0, path.c_str(), -1, &wide[0], length);
  char* unix_path = to_unix(wide.c_str());
  if (unix_path == nullptr) return std::string();
  std::string result = unix_path;
  HeapFree(GetProcessHeap(), 0, unix_path);
  return result;
}

bool StartUnixProgram(const std::vector<std::string>& argv) {
  if (UnixPathOf("C:\\").empty()) return false;
  std::string program = "Z:" + argv[0];
  for (char& c : program) {
    if (c == '/') c = '\\';
  }
  std::string command_line;
  for (const std::string& arg : argv) {
    if (!command_line.empty()) command_line += ' ';
    command_line += '"' + arg + '"';
  }
  STARTUPINFOA startup = {};
  startup.cb = sizeof(startup);
  PROCESS_INFORMATION process = {};
  if (!CreateProcessA(program.c_str(), &command_line[0], nullptr, nullptr, FALSE, 0, nullptr,
                      nullptr, &startup, &process)) {
    return false;
  }
  // Only handles that name the process and thread whose ids came with them
  // are the child's to close.
  if (process.dwProcessId != 0 && GetProcessId(process.hProcess) == process.dwProcessId &&
      GetThreadId(process.hThread) == process.dwThreadId) {
    CloseHandle(process.hThread);
    CloseHandle(process.hProcess);
  }
  return true;
}

}  // namespace testing_support
