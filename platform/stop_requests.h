// A request to stop a long run from outside it: Ctrl-C or a termination
// request (SIGINT, SIGTERM; on Windows the console's Ctrl-C and Ctrl-Break
// events). Without a handler the process dies on the spot, and a download
// under way loses what it had not yet written down for the next run; with
// one, the run sees the request, stops its transfers the way a host's
// cancel does and keeps what came.
#ifndef FILEDIST_PLATFORM_STOP_REQUESTS_H
#define FILEDIST_PLATFORM_STOP_REQUESTS_H

namespace plat {

// From now on the first stop request is only noted, for StopRequested to
// tell; a second one ends the process as it would have without this, so
// that a run which does not stop can still be ended.
void CatchStopRequests();

// 0 while no request came; after one, the exit status a process stopped by
// it conventionally has: 130 for Ctrl-C (128 + SIGINT), 143 for SIGTERM.
int StopRequested();

}  // namespace plat

#endif  // FILEDIST_PLATFORM_STOP_REQUESTS_H
