// The firewall exports. They stand apart from the rest of the library: no
// log line, no shared state, only the result.
#include "common.h"
#include "firewall/firewall_backend.h"

extern "C" COMMON_API int COMMON_CALL AddPort2FW(int port, int tcp, const char* name) {
  return fw::OpenPort(port, tcp, name);
}

extern "C" COMMON_API int COMMON_CALL AddProc2FW(const char* imagePath, const char* name) {
  return fw::AuthorizeProgram(imagePath, name);
}
