// The system's own words for why the last call failed, and a pause.
#ifndef FILEDIST_PLATFORM_SYSTEM_ERROR_H
#define FILEDIST_PLATFORM_SYSTEM_ERROR_H

#include <string>

namespace plat {

// The code of the last failure on this thread (errno, GetLastError).
int LastSystemError();

// The system's text for an error code, without a trailing line end; empty
// for 0.
std::string SystemErrorText(int code);

// Waits about the given number of milliseconds.
void PauseMilliseconds(int milliseconds);

}  // namespace plat

#endif  // FILEDIST_PLATFORM_SYSTEM_ERROR_H
