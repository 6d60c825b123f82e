#include "common.h"

// Not built yet.
extern "C" COMMON_API int COMMON_CALL MakeClientFile(const char*, const char*) { return 0; }
