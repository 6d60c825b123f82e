#include <signal.h>
#include <sys/resource.h>

#include "host/file_size_limit.h"

bool LimitFileSize(uint64_t bytes) {
  // The write that crosses the limit fails with EFBIG instead of killing us.
  signal(SIGXFSZ, SIG_IGN);
  struct rlimit limit;
  limit.rlim_cur = bytes;
  limit.rlim_max = bytes;
  return setrlimit(RLIMIT_FSIZE, &limit) == 0;
}
