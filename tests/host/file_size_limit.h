// Lets the test host run out of room on purpose: after LimitFileSize(n), no
// file of this process can grow past n bytes; writes beyond fail as on a
// full disk.
#ifndef FILEDIST_TESTS_HOST_FILE_SIZE_LIMIT_H
#define FILEDIST_TESTS_HOST_FILE_SIZE_LIMIT_H

#include <cstdint>

// False where the system offers no such limit.
bool LimitFileSize(uint64_t bytes);

#endif  // FILEDIST_TESTS_HOST_FILE_SIZE_LIMIT_H
