#include <errno.h>
#include <string.h>
#include <time.h>

#include <type_traits>

#include "platform/system_error.h"

namespace plat {

int LastSystemError() { return errno; }

std::string SystemErrorText(int code) {
  if (code == 0) return std::string();
  char buffer[256] = {};
  // The GNU strerror_r may return a static text instead of filling buffer.
  auto text = [&](auto result) -> const char* {
    if constexpr (std::is_same<decltype(result), char*>::value) {
      return result;
    } else {
      return result == 0 ? buffer : "unknown error";
    }
  };
  return text(strerror_r(code, buffer, sizeof(buffer)));
}

void PauseMilliseconds(int milliseconds) {
  struct timespec wait = {milliseconds / 1000, (milliseconds % 1000) * 1000000L};
  while (nanosleep(&wait, &wait) != 0 && errno == EINTR) {
  }
}

}  // namespace plat
