#include "support/file_size_limit.h"

// Windows has no per-process file size limit.
bool LimitFileSize(uint64_t) { return false; }

ScopedFileSizeLimit::ScopedFileSizeLimit(uint64_t) {}

ScopedFileSizeLimit::~ScopedFileSizeLimit() {}
