// There is no Windows Firewall on these systems, so nothing can be opened or
// authorised: both exports report failure and touch nothing.
#include "filedist_firewall.h"
#include "firewall/firewall_backend.h"

namespace fw {

int OpenPort(int, int, const char*) { return 0; }

int AuthorizeProgram(const char*, const char*) { return 0; }

}  // namespace fw

bool filedist::HasWindowsFirewall() { return false; }
