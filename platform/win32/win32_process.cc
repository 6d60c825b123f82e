// The running process through Win32: its executable, the clock, a critical
// section, profile sections and child programs.
#include <windows.h>

#include <new>

#include "platform/argument_quoting.h"
#include "platform/file_safety.h"
#include "platform/platform.h"

namespace plat {

namespace {

// Wine starts a Unix program (an ELF file by its path on the drive that
// maps the Unix root) without a Windows process: CreateProcess reports
// success, but the handles and ids it hands back are whatever its own stack
// held, at times a handle of this process or the number that CloseHandle
// takes for standard output. Only handles that name the process and the
// thread whose ids came with them are waited on and closed.
bool HandlesNameTheChild(const PROCESS_INFORMATION& process) {
  return process.dwProcessId != 0 && GetProcessId(process.hProcess) == process.dwProcessId &&
         GetThreadId(process.hThread) == process.dwThreadId;
}

}  // namespace

bool GetExecutablePath(std::string* path) {
  char buffer[1024] = {};
  DWORD length = GetModuleFileNameA(nullptr, buffer, sizeof(buffer));
  // A path that fills the buffer has been cut short.
  if (length == 0 || length >= sizeof(buffer) - 1) return false;
  path->assign(buffer, length);
  return true;
}

LocalTime GetLocalTimeNow() {
  SYSTEMTIME now;
  GetLocalTime(&now);
  return LocalTime{now.wYear,   now.wMonth,  now.wDay,         now.wHour,
                   now.wMinute, now.wSecond, now.wMilliseconds};
}

std::string ReadIniSection(const char* iniPath, const char* section, size_t capacity) {
  if (iniPath == nullptr || section == nullptr || capacity < 2) return std::string();
  // The profile functions would wait on a named pipe planted at the name;
  // only a regular file is handed to them.
  if (FILE* probe = OpenRegularFile(iniPath)) {
    std::fclose(probe);
  } else {
    return std::string();
  }
  std::string buffer(capacity, '\0');
  DWORD length =
      GetPrivateProfileSectionA(section, &buffer[0], static_cast<DWORD>(capacity), iniPath);
  buffer.resize(length);
  return buffer;
}

static_assert(sizeof(CRITICAL_SECTION) <= 64, "Mutex storage holds a critical section");

void LowerThreadPriority() {}

Mutex::Mutex() { InitializeCriticalSection(new (storage_) CRITICAL_SECTION); }
Mutex::~Mutex() { DeleteCriticalSection(reinterpret_cast<CRITICAL_SECTION*>(storage_)); }
void Mutex::Lock() { EnterCriticalSection(reinterpret_cast<CRITICAL_SECTION*>(storage_)); }
void Mutex::Unlock() { LeaveCriticalSection(reinterpret_cast<CRITICAL_SECTION*>(storage_)); }

int RunProgram(const std::vector<std::string>& argv, std::string* output) {
  if (argv.empty()) return -1;
  std::string command_line = WindowsCommandLine(argv);
  SECURITY_ATTRIBUTES inherit = {sizeof(inherit), nullptr, TRUE};
  HANDLE read_end = nullptr;
  HANDLE write_end = nullptr;
  if (!CreatePipe(&read_end, &write_end, &inherit, 0)) return -1;
  SetHandleInformation(read_end, HANDLE_FLAG_INHERIT, 0);
  HANDLE null_input = CreateFileA("NUL", GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, &inherit,
                                  OPEN_EXISTING, 0, nullptr);
  STARTUPINFOA startup = {};
  startup.cb = sizeof(startup);
  startup.dwFlags = STARTF_USESTDHANDLES;
  startup.hStdInput = null_input;
  startup.hStdOutput = write_end;
  startup.hStdError = write_end;
  PROCESS_INFORMATION process = {};
  BOOL started = CreateProcessA(argv[0].c_str(), &command_line[0], nullptr, nullptr, TRUE, 0,
                                nullptr, nullptr, &startup, &process);
  CloseHandle(write_end);
  if (null_input != INVALID_HANDLE_VALUE) CloseHandle(null_input);
  if (!started) {
    CloseHandle(read_end);
    return -1;
  }
  // The output is read until the program has ended, not until every
  // holder of the pipe's write end has closed it: a process the program
  // starts may keep a copy long after (under Wine, the first program to use
  // the desktop starts explorer.exe, which is given its standard handles
  // and lives as long as the Wine session). What the program wrote before
  // its end is in the pipe by then. Without a process to wait for (a Unix
  // program under Wine), only the pipe's end tells.
  const bool waitable = HandlesNameTheChild(process);
  bool ended = false;
  char buffer[4096];
  for (;;) {
    DWORD available = 0;
    // Once every writer is gone, the read below takes what is left, or fails.
    bool open = PeekNamedPipe(read_end, nullptr, 0, nullptr, &available, nullptr) != FALSE;
    if (open && available == 0 && waitable) {
      if (ended) break;
      ended = WaitForSingleObject(process.hProcess, 10) == WAIT_OBJECT_0;
      continue;
    }
    DWORD got = 0;
    DWORD wanted = available == 0 || available > sizeof(buffer) ? sizeof(buffer) : available;
    if (!ReadFile(read_end, buffer, wanted, &got, nullptr) || got == 0) break;
    if (output != nullptr) output->append(buffer, got);
  }
  CloseHandle(read_end);
  // Without a process there is no exit status to report.
  if (!waitable) return -1;
  WaitForSingleObject(process.hProcess, INFINITE);
  DWORD exit_code = 0;
  GetExitCodeProcess(process.hProcess, &exit_code);
  CloseHandle(process.hProcess);
  CloseHandle(process.hThread);
  return static_cast<int>(exit_code);
}

uint64_t LargestProcessId() { return 0xffffffffu; }

ProcessWait WaitForProcessEnd(uint64_t pid, int timeoutSeconds) {
  if (pid == 0 || pid > LargestProcessId()) return ProcessWait::kFailed;
  HANDLE process = OpenProcess(SYNCHRONIZE, FALSE, static_cast<DWORD>(pid));
  if (process == nullptr) {
    // No process has that id (any more).
    return GetLastError() == ERROR_INVALID_PARAMETER ? ProcessWait::kEnded : ProcessWait::kFailed;
  }
  DWORD waited = WaitForSingleObject(process, static_cast<DWORD>(timeoutSeconds) * 1000);
  CloseHandle(process);
  if (waited == WAIT_OBJECT_0) return ProcessWait::kEnded;
  return waited == WAIT_TIMEOUT ? ProcessWait::kTimedOut : ProcessWait::kFailed;
}

bool StartProgram(const std::vector<std::string>& argv, std::string* error) {
  if (argv.empty()) {
    *error = "no program given";
    return false;
  }
  std::string command_line = WindowsCommandLine(argv);
  STARTUPINFOA startup = {};
  startup.cb = sizeof(startup);
  // No standard handles either: without them named, a console program is
  // given the updater's own, pipes of whoever started the updater included.
  startup.dwFlags = STARTF_USESTDHANDLES;
  startup.hStdInput = nullptr;
  startup.hStdOutput = nullptr;
  startup.hStdError = nullptr;
  PROCESS_INFORMATION process = {};
  // Nothing inherited: the updater's handles (its lock among them) go with it.
  if (!CreateProcessA(argv[0].c_str(), &command_line[0], nullptr, nullptr, FALSE,
                      CREATE_NEW_PROCESS_GROUP, nullptr, nullptr, &startup, &process)) {
    *error = "cannot start '" + argv[0] + "': " + LastErrorText();
    return false;
  }
  if (HandlesNameTheChild(process)) {
    CloseHandle(process.hProcess);
    CloseHandle(process.hThread);
  }
  return true;
}

}  // namespace plat
