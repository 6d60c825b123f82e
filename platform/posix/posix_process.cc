// The running process on POSIX systems: its executable, the clock, a lock and
// child programs.
#include <errno.h>
#include <fcntl.h>
#include <poll.h>
#include <pthread.h>
#include <signal.h>
#include <spawn.h>
#include <string.h>
#include <sys/resource.h>
#include <sys/syscall.h>
#include <sys/time.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <chrono>
#include <new>
#include <thread>

#include "platform/platform.h"
#include "platform/posix/posix_path.h"

namespace plat {

bool GetExecutablePath(std::string* path) {
  char buffer[4096];
  ssize_t length = readlink("/proc/self/exe", buffer, sizeof(buffer) - 1);
  if (length <= 0 || static_cast<size_t>(length) >= sizeof(buffer) - 1) return false;
  path->assign(buffer, static_cast<size_t>(length));
  return true;
}

LocalTime GetLocalTimeNow() {
  struct timeval now;
  gettimeofday(&now, nullptr);
  tzset();
  struct tm parts;
  time_t seconds = now.tv_sec;
  localtime_r(&seconds, &parts);
  return LocalTime{parts.tm_year + 1900,
                   parts.tm_mon + 1,
                   parts.tm_mday,
                   parts.tm_hour,
                   parts.tm_min,
                   parts.tm_sec,
                   static_cast<int>(now.tv_usec / 1000)};
}

void LowerThreadPriority() {
#if defined(__linux__)
  // Linux keeps a nice value for each thread: given the thread's own id,
  // setpriority changes that thread's alone.
  id_t thread = static_cast<id_t>(syscall(SYS_gettid));
  errno = 0;
  int nice = getpriority(PRIO_PROCESS, thread);
  if (errno == 0) setpriority(PRIO_PROCESS, thread, nice + 5);
#endif
}

static_assert(sizeof(pthread_mutex_t) <= 64, "Mutex storage holds a pthread mutex");

Mutex::Mutex() { pthread_mutex_init(new (storage_) pthread_mutex_t, nullptr); }
Mutex::~Mutex() { pthread_mutex_destroy(reinterpret_cast<pthread_mutex_t*>(storage_)); }
void Mutex::Lock() { pthread_mutex_lock(reinterpret_cast<pthread_mutex_t*>(storage_)); }
void Mutex::Unlock() { pthread_mutex_unlock(reinterpret_cast<pthread_mutex_t*>(storage_)); }

int RunProgram(const std::vector<std::string>& argv, std::string* output) {
  if (argv.empty()) return -1;
  int pipe_fds[2];
  if (pipe(pipe_fds) != 0) return -1;
  pid_t pid = fork();
  if (pid < 0) {
    close(pipe_fds[0]);
    close(pipe_fds[1]);
    return -1;
  }
  if (pid == 0) {
    int null_fd = open("/dev/null", O_RDONLY);
    if (null_fd >= 0) dup2(null_fd, 0);
    int sink = output != nullptr ? pipe_fds[1] : open("/dev/null", O_WRONLY);
    dup2(sink, 1);
    dup2(sink, 2);
    std::vector<std::string> native;
    std::vector<char*> args;
    for (const std::string& arg : argv) native.push_back(arg);
    native[0] = ToNativePath(argv[0].c_str());
    for (std::string& arg : native) args.push_back(&arg[0]);
    args.push_back(nullptr);
    execv(args[0], args.data());
    _exit(127);
  }
  close(pipe_fds[1]);
  // The output is read until the program has ended, not until every holder
  // of the pipe's write end has closed it: a process the program leaves
  // running may keep a copy long after. What the program wrote before its
  // end is in the pipe by then.
  int status = 0;
  bool ended = false;
  char buffer[4096];
  for (;;) {
    pollfd readable = {pipe_fds[0], POLLIN, 0};
    int polled = poll(&readable, 1, ended ? 0 : 10);
    if (polled < 0 && errno == EINTR) continue;
    if (polled < 0) break;
    if (polled == 0) {
      if (ended) break;
      pid_t waited = waitpid(pid, &status, WNOHANG);
      if (waited < 0 && errno != EINTR) {
        close(pipe_fds[0]);
        return -1;
      }
      ended = waited == pid;
      continue;
    }
    ssize_t got = read(pipe_fds[0], buffer, sizeof(buffer));
    if (got < 0 && errno == EINTR) continue;
    if (got <= 0) break;
    if (output != nullptr) output->append(buffer, static_cast<size_t>(got));
  }
  close(pipe_fds[0]);
  while (!ended && waitpid(pid, &status, 0) < 0) {
    if (errno != EINTR) return -1;
  }
  if (WIFEXITED(status)) {
    int code = WEXITSTATUS(status);
    return code == 127 ? -1 : code;
  }
  return 128 + (WIFSIGNALED(status) ? WTERMSIG(status) : 0);
}

uint64_t LargestProcessId() { return static_cast<uint64_t>(INT32_MAX); }

ProcessWait WaitForProcessEnd(uint64_t pid, int timeoutSeconds) {
  if (pid == 0 || pid > LargestProcessId()) return ProcessWait::kFailed;
  pid_t target = static_cast<pid_t>(pid);
  auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(timeoutSeconds);
  for (;;) {
    // A child of this process that ended stays a zombie, which kill still
    // finds, until it is reaped.
    int status = 0;
    if (waitpid(target, &status, WNOHANG) == target) return ProcessWait::kEnded;
    // Another user's process answers EPERM: it is there all the same.
    if (kill(target, 0) != 0 && errno == ESRCH) return ProcessWait::kEnded;
    if (std::chrono::steady_clock::now() >= deadline) return ProcessWait::kTimedOut;
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
  }
}

extern "C" char** environ;

bool StartProgram(const std::vector<std::string>& argv, std::string* error) {
  if (argv.empty()) {
    *error = "no program given";
    return false;
  }
  std::vector<char*> args;
  for (const std::string& arg : argv) args.push_back(const_cast<char*>(arg.c_str()));
  args.push_back(nullptr);
  posix_spawnattr_t attributes;
  posix_spawnattr_init(&attributes);
#ifdef POSIX_SPAWN_SETSID
  // Its own session: a terminal closed behind the updater does not take it.
  posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETSID);
#endif
  // Its standard streams go nowhere: it must not hold the updater's
  // terminal or pipes open after the updater has ended.
  posix_spawn_file_actions_t streams;
  posix_spawn_file_actions_init(&streams);
  posix_spawn_file_actions_addopen(&streams, 0, "/dev/null", O_RDONLY, 0);
  posix_spawn_file_actions_addopen(&streams, 1, "/dev/null", O_WRONLY, 0);
  posix_spawn_file_actions_addopen(&streams, 2, "/dev/null", O_WRONLY, 0);
#if defined(__GLIBC__) && (__GLIBC__ > 2 || (__GLIBC__ == 2 && __GLIBC_MINOR__ >= 34))
  // Nor any other descriptor the updater had without close-on-exec (pipes
  // of the program that started it, which would wait for the new program).
  posix_spawn_file_actions_addclosefrom_np(&streams, 3);
#endif
  pid_t pid = 0;
  int result = posix_spawn(&pid, argv[0].c_str(), &streams, &attributes, args.data(), environ);
  posix_spawn_file_actions_destroy(&streams);
  posix_spawnattr_destroy(&attributes);
  if (result != 0) {
    *error = "cannot start '" + argv[0] + "': " + strerror(result);
    return false;
  }
  return true;
}

}  // namespace plat
