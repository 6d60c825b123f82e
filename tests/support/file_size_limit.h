// Lets a test run out of room on purpose: while a limit holds, no file of
// this process can grow past its size; writes beyond fail as on a full disk.
#ifndef FILEDIST_TESTS_SUPPORT_FILE_SIZE_LIMIT_H
#define FILEDIST_TESTS_SUPPORT_FILE_SIZE_LIMIT_H

#include <cstdint>

// The limit for the rest of the process (a child that is stopped anyway).
// False where the system offers no such limit.
bool LimitFileSize(uint64_t bytes);

// The limit for as long as the object lives, after which files may grow
// again: a test can run the library under it inside the test program.
class ScopedFileSizeLimit {
 public:
  explicit ScopedFileSizeLimit(uint64_t bytes);
  ~ScopedFileSizeLimit();
  ScopedFileSizeLimit(const ScopedFileSizeLimit&) = delete;
  ScopedFileSizeLimit& operator=(const ScopedFileSizeLimit&) = delete;

  // False where the system offers no such limit: nothing is limited.
  bool active() const { return active_; }

 private:
  bool active_ = false;
  uint64_t saved_limit_ = 0;
  void (*saved_handler_)(int) = nullptr;
};

#endif  // FILEDIST_TESTS_SUPPORT_FILE_SIZE_LIMIT_H
