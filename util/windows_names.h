// The names Windows file systems cannot hold or take for one another. A
// release built anywhere is installed on Windows too, so the build checks
// them on every system and a Windows client refuses them before it fetches.
#ifndef FILEDIST_UTIL_WINDOWS_NAMES_H
#define FILEDIST_UTIL_WINDOWS_NAMES_H

#include <string>
#include <string_view>

namespace util {

// True for a name Windows opens as a device whatever folder it lies in: CON,
// PRN, AUX, NUL, COM0 to COM9, LPT0 to LPT9, CONIN$ and CONOUT$, in any
// letter case, alone or with any extension ("aux.txt", "com1.tar.gz") and
// with blanks before the extension ("nul .txt").
bool IsWindowsDeviceName(std::string_view name);

// True for a name in the form of a short (8.3) name: a tilde in a base of
// at most eight characters, with at most three after a single dot. Windows
// (and Wine) open the file whose short name it is, which may be another one
// than a file of that name: "FILEDI~1" can be ".filedist-release".
bool IsWindowsShortNameForm(std::string_view name);

// Why Windows cannot create a file or folder of this name (one path
// component), or empty when it can: a control byte, one of < > : " | ? *,
// a trailing dot or space (Windows strips it, so the name becomes another
// one), the form of a short name, or a device name.
std::string WindowsNameProblem(std::string_view name);

// The form under which Windows takes names for the same entry: trailing
// dots and spaces stripped, A to Z upper case. Two names with one fold reach
// one file there.
std::string WindowsFoldedName(std::string_view name);

}  // namespace util

#endif  // FILEDIST_UTIL_WINDOWS_NAMES_H
