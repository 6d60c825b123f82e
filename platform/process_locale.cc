#include <clocale>
#include <locale>

#include "platform/platform.h"

namespace plat {

void SetUserDefaultLocale() {
  std::setlocale(LC_ALL, "");
  // Some runtimes (mingw's libstdc++ among them) know no named C++ locales;
  // the C runtime's locale has been switched all the same.
  try {
    std::locale::global(std::locale(""));
  } catch (const std::exception&) {
  }
}

void SetClassicLocale() {
  std::setlocale(LC_ALL, "C");
  std::locale::global(std::locale::classic());
}

}  // namespace plat
