#include "host/file_size_limit.h"

// Windows has no per-process file size limit.
bool LimitFileSize(uint64_t) { return false; }
