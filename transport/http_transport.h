// One HTTP GET at a time, streamed into a sink: the part of `filedist update`
// that talks to web servers. Each system has its own back end, chosen by the
// build (libcurl natively, WinHTTP on Windows, none where neither exists);
// retries and resuming are built on top of it, in http_fetch.h.
//
// A transport is used by one thread at a time; it keeps its connections open
// between requests, so that a run of small files does not pay a new
// connection (or TLS handshake) for each.
#ifndef FILEDIST_TRANSPORT_HTTP_TRANSPORT_H
#define FILEDIST_TRANSPORT_HTTP_TRANSPORT_H

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

struct TransportOptions {
  // Longest wait for a connection, and for the next bytes of an answer.
  int timeout_seconds = 30;
  // A transfer that receives fewer than this many bytes a second, measured
  // over timeout_seconds, is given up on: a server that trickles a byte now
  // and then must not hold a client forever.
  uint32_t min_bytes_per_second = 1024;
  // A PEM file of authorities to trust in place of the system's; empty for
  // the system's own.
  std::string ca_file;
};

// Where the body of an answer goes.
class BodySink {
 public:
  virtual ~BodySink() = default;
  // A 2xx answer begins. partial is true for a 206 answer to a range request
  // whose body starts at the byte asked for. False stops the transfer.
  virtual bool Start(bool partial) = 0;
  // The next bytes of the body. False stops the transfer.
  virtual bool Write(const char* data, size_t size) = 0;
};

enum class TransferStatus {
  kOk,         // the whole body reached the sink
  kStopped,    // the sink said stop; the sink knows why
  kTransient,  // a failure that may pass: connection lost or refused, time
               // limit, too slow, HTTP 408, 429 or 5xx
  kFailed,     // a failure that will not pass by trying again: HTTP 4xx, a
               // refused certificate, a malformed URL
};

struct TransferResult {
  TransferStatus status = TransferStatus::kFailed;
  int http_status = 0;    // 0 when no answer came
  uint64_t received = 0;  // body bytes that reached the sink
  std::string error;      // why, for kTransient and kFailed
};

class HttpTransport {
 public:
  virtual ~HttpTransport() = default;

  // GETs url (http:// or https://, following redirects) into sink. With
  // offset above zero, asks for the bytes from offset on; a server that
  // ignores the range answers with the whole body (Start(false)).
  virtual TransferResult Get(const std::string& url, uint64_t offset, BodySink* sink) = 0;
};

// The build's back end. Null, with *error set, when there is none or it
// cannot start.
std::unique_ptr<HttpTransport> MakeHttpTransport(const TransportOptions& options,
                                                 std::string* error);

#endif  // FILEDIST_TRANSPORT_HTTP_TRANSPORT_H
