#include <windows.h>

#include <atomic>

#include "platform/stop_requests.h"

namespace plat {

namespace {

// The console calls the handler on a thread of its own.
std::atomic<int> requested{0};

// Ctrl-C counts as SIGINT (2) does elsewhere, Ctrl-Break as SIGTERM (15).
BOOL WINAPI NoteStop(DWORD event) {
  if (event != CTRL_C_EVENT && event != CTRL_BREAK_EVENT) return FALSE;
  int expected = 0;
  // A second request is left to the default handler, which ends the process.
  return requested.compare_exchange_strong(expected, event == CTRL_C_EVENT ? 130 : 143) ? TRUE
                                                                                        : FALSE;
}

}  // namespace

void CatchStopRequests() { SetConsoleCtrlHandler(NoteStop, TRUE); }

int StopRequested() { return requested.load(); }

}  // namespace plat
