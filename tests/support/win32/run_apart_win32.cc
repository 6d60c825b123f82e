// RunApart on Windows: the child's standard output and error go to files of
// their own, read once it has ended.
#include <windows.h>

#include "platform/argument_quoting.h"
#include "support/json_oracle.h"
#include "support/test_support.h"

namespace testing_support {

namespace {

HANDLE InheritedFile(const std::string& path, bool write) {
  SECURITY_ATTRIBUTES inherit = {sizeof(inherit), nullptr, TRUE};
  return CreateFileA(path.c_str(), write ? GENERIC_WRITE : GENERIC_READ,
                     FILE_SHARE_READ | FILE_SHARE_WRITE, &inherit,
                     write ? CREATE_ALWAYS : OPEN_EXISTING, 0, nullptr);
}

}  // namespace

int RunApart(const std::vector<std::string>& argv, std::string* out, std::string* err) {
  if (argv.empty()) return -1;
  ScratchDir work;
  const std::string out_path = work.Sub("stdout");
  const std::string err_path = work.Sub("stderr");
  std::string command_line = plat::WindowsCommandLine(argv);
  HANDLE in = InheritedFile("NUL", false);
  HANDLE out_file = InheritedFile(out_path, true);
  HANDLE err_file = InheritedFile(err_path, true);
  STARTUPINFOA startup = {};
  startup.cb = sizeof(startup);
  startup.dwFlags = STARTF_USESTDHANDLES;
  startup.hStdInput = in;
  startup.hStdOutput = out_file;
  startup.hStdError = err_file;
  PROCESS_INFORMATION process = {};
  BOOL started = CreateProcessA(argv[0].c_str(), &command_line[0], nullptr, nullptr, TRUE, 0,
                                nullptr, nullptr, &startup, &process);
  for (HANDLE handle : {in, out_file, err_file}) {
    if (handle != INVALID_HANDLE_VALUE) CloseHandle(handle);
  }
  if (!started) return -1;
  WaitForSingleObject(process.hProcess, INFINITE);
  DWORD exit_code = 0;
  GetExitCodeProcess(process.hProcess, &exit_code);
  CloseHandle(process.hProcess);
  CloseHandle(process.hThread);
  *out = ReadFileBytes(out_path);
  *err = ReadFileBytes(err_path);
  return static_cast<int>(exit_code);
}

}  // namespace testing_support
