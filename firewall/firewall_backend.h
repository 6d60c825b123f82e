// The work behind AddPort2FW and AddProc2FW, done by the back end of the
// system the library is built for: firewall/win32 talks to the Windows
// Firewall through COM, firewall/posix has no firewall to talk to.
#ifndef FILEDIST_FIREWALL_FIREWALL_BACKEND_H
#define FILEDIST_FIREWALL_FIREWALL_BACKEND_H

namespace fw {

// Makes sure the current profile has port open for TCP (tcp non-zero) or UDP
// (tcp zero), listed under name. 1 on success, 0 on any failure.
int OpenPort(int port, int tcp, const char* name);

// Makes sure the current profile authorises the program imagePath, listed
// under name. 1 on success, 0 on any failure.
int AuthorizeProgram(const char* imagePath, const char* name);

}  // namespace fw

#endif  // FILEDIST_FIREWALL_FIREWALL_BACKEND_H
