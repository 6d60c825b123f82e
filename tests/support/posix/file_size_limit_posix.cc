#include <signal.h>
#include <sys/resource.h>

#include "support/file_size_limit.h"

bool LimitFileSize(uint64_t bytes) {
  // The write that crosses the limit fails with EFBIG instead of killing us.
  signal(SIGXFSZ, SIG_IGN);
  struct rlimit limit;
  limit.rlim_cur = bytes;
  limit.rlim_max = bytes;
  return setrlimit(RLIMIT_FSIZE, &limit) == 0;
}

// Only the soft limit moves: the hard one stays, so that the soft one can be
// raised back when the object goes.
ScopedFileSizeLimit::ScopedFileSizeLimit(uint64_t bytes) {
  struct rlimit limit;
  if (getrlimit(RLIMIT_FSIZE, &limit) != 0) return;
  if (limit.rlim_max != RLIM_INFINITY && limit.rlim_max < bytes) return;
  saved_limit_ = limit.rlim_cur;
  saved_handler_ = signal(SIGXFSZ, SIG_IGN);
  limit.rlim_cur = bytes;
  active_ = setrlimit(RLIMIT_FSIZE, &limit) == 0;
  if (!active_) signal(SIGXFSZ, saved_handler_);
}

ScopedFileSizeLimit::~ScopedFileSizeLimit() {
  if (!active_) return;
  struct rlimit limit;
  getrlimit(RLIMIT_FSIZE, &limit);
  limit.rlim_cur = saved_limit_;
  setrlimit(RLIMIT_FSIZE, &limit);
  signal(SIGXFSZ, saved_handler_);
}
