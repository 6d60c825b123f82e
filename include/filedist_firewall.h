/* filedist_firewall.h - whether AddPort2FW and AddProc2FW can do anything in
 * this build. Programs linked with the library's static core (the filedist
 * host program, the tests) use it to tell "the firewall refused" from "there
 * is no firewall here"; the shared library does not export it. */
#ifndef FILEDIST_FILEDIST_FIREWALL_H
#define FILEDIST_FILEDIST_FIREWALL_H

namespace filedist {

/* True in the Windows build. Elsewhere there is no Windows Firewall and both
 * exports always return 0. */
bool HasWindowsFirewall();

}  // namespace filedist

#endif /* FILEDIST_FILEDIST_FIREWALL_H */
