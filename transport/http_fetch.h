// Fetching one file over an HttpTransport the way a flaky network needs:
// transient failures are tried again after growing delays, and a try after
// one that was cut off goes on where it stopped, with a range request.
#ifndef FILEDIST_TRANSPORT_HTTP_FETCH_H
#define FILEDIST_TRANSPORT_HTTP_FETCH_H

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>

#include "transport/http_transport.h"

struct RetryPolicy {
  int retries = 3;           // tries after the first
  int first_delay_ms = 500;  // doubled after each try
  int longest_delay_ms = 8000;
};

// Takes the next bytes of the body. False stops the fetch for good.
using StreamSink = std::function<bool(const char* data, size_t size)>;

struct FetchStats {
  uint64_t received = 0;  // body bytes received, over every try
  int tries = 0;
  int resumed = 0;  // tries that went on with a range request
};

// Streams the body of url from byte offset on into sink. sink sees every
// byte once and in order, whatever the tries: a try asks for the bytes after
// those sink took, and where the server sends the whole body instead, that
// many bytes are skipped. False, with *error set, when a failure does not
// pass within policy.retries more tries, or will not pass, or sink stopped.
bool FetchStream(HttpTransport* transport, const std::string& url, uint64_t offset,
                 const StreamSink& sink, const RetryPolicy& policy, FetchStats* stats,
                 std::string* error);

#endif  // FILEDIST_TRANSPORT_HTTP_FETCH_H
