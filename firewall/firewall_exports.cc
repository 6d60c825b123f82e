#include "common.h"

// Not built yet.
extern "C" COMMON_API int COMMON_CALL AddPort2FW(int, int, const char*) { return 0; }
extern "C" COMMON_API int COMMON_CALL AddProc2FW(const char*, const char*) { return 0; }
