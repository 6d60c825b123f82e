#include "util/windows_names.h"

#include <cstring>

#include "util/ascii_case.h"

namespace util {

bool IsWindowsDeviceName(std::string_view name) {
  // Windows looks at the part before the first dot, blanks at its end
  // ignored: "aux", "AUX .txt" and "aux.tar.gz" all open the device.
  std::string_view base = name.substr(0, name.find('.'));
  while (!base.empty() && base.back() == ' ') base.remove_suffix(1);
  std::string upper(base);
  for (char& c : upper) c = AsciiUpper(c);
  static const char* const kPlain[] = {"CON", "PRN", "AUX", "NUL", "CONIN$", "CONOUT$"};
  for (const char* device : kPlain) {
    if (upper == device) return true;
  }
  return upper.size() == 4 &&
         (upper.compare(0, 3, "COM") == 0 || upper.compare(0, 3, "LPT") == 0) && upper[3] >= '0' &&
         upper[3] <= '9';
}

bool IsWindowsShortNameForm(std::string_view name) {
  // Short names Windows makes ("FILEDI~1", "PROGRA~2.TXT") and those Wine
  // makes ("_FIL~CRR") have a tilde in a base of at most eight characters
  // and at most three after a single dot.
  size_t dot = name.find('.');
  std::string_view base = name.substr(0, dot);
  std::string_view extension =
      dot == std::string_view::npos ? std::string_view() : name.substr(dot + 1);
  return !base.empty() && base.size() <= 8 && base.find('~') != std::string_view::npos &&
         extension.size() <= 3 && extension.find('.') == std::string_view::npos;
}

std::string WindowsNameProblem(std::string_view name) {
  for (char c : name) {
    unsigned char byte = static_cast<unsigned char>(c);
    if (byte < 0x20) return "holds a control character, which Windows file names cannot";
    if (byte != 0 && std::strchr("<>:\"|?*", c) != nullptr) {
      return std::string("holds '") + c + "', which Windows file names cannot";
    }
  }
  if (!name.empty() && (name.back() == '.' || name.back() == ' ')) {
    return "ends in a dot or a space, which Windows strips from file names";
  }
  if (IsWindowsShortNameForm(name)) {
    return "has the form of a short (8.3) name, which Windows may take for another file "
           "(a short name of '.filedist-release' reaches the rollback floor)";
  }
  if (IsWindowsDeviceName(name)) {
    return "is the name of a Windows device (CON, PRN, AUX, NUL, COM0-9, LPT0-9, CONIN$, CONOUT$), "
           "which no Windows file may have";
  }
  return std::string();
}

std::string WindowsFoldedName(std::string_view name) {
  while (!name.empty() && (name.back() == '.' || name.back() == ' ')) name.remove_suffix(1);
  std::string folded(name);
  for (char& c : folded) c = AsciiUpper(c);
  return folded;
}

}  // namespace util
