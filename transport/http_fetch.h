// Fetching one file over an HttpTransport the way a flaky network needs:
// transient failures are tried again after growing delays, a file cut off
// part way resumes with a range request where the server takes ranges, and
// a body longer than the file can be is cut off at once.
#ifndef FILEDIST_TRANSPORT_HTTP_FETCH_H
#define FILEDIST_TRANSPORT_HTTP_FETCH_H

#include <cstdint>
#include <functional>
#include <string>

#include "transport/http_transport.h"

struct RetryPolicy {
  int retries = 3;             // tries after the first
  int first_delay_ms = 500;    // doubled after each try
  int longest_delay_ms = 8000;
};

// Told the number of bytes of the file held so far: it goes back down when a
// server that ignores ranges sends the file again from its start.
using FileProgress = std::function<void(uint64_t held)>;

struct FetchStats {
  uint64_t received = 0;  // body bytes received, over every try
  int tries = 0;
  int resumed = 0;        // tries that went on from where one stopped
};

// Fetches url into the file dest (created or truncated). A body longer than
// max_size bytes fails at once (0: no limit). On failure *error says why.
bool FetchToFile(HttpTransport* transport, const std::string& url, const std::string& dest,
                 uint64_t max_size, const RetryPolicy& policy, const FileProgress& progress,
                 FetchStats* stats, std::string* error);

#endif  // FILEDIST_TRANSPORT_HTTP_FETCH_H
