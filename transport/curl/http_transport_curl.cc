// The libcurl back end. libcurl takes the proxy from http_proxy, https_proxy
// and no_proxy itself, and checks certificates against the system's
// authorities unless a CA file is given.
#include <curl/curl.h>
#include <strings.h>

#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>

#include "transport/http_status.h"
#include "transport/http_transport.h"

namespace {

constexpr long kReceiveBufferSize = 256 * 1024;

struct Transfer {
  CURL* curl = nullptr;
  uint64_t offset = 0;
  BodySink* sink = nullptr;
  bool started = false;
  bool stopped = false;  // the sink said stop
  bool refused = false;  // the answer was no 2xx, or a range we did not ask for
  long range_start = -1;
  uint64_t received = 0;
  std::string location;  // of the last answer, for a redirect that is refused
};

// Whether a 206 answer starts at the byte asked for.
size_t ReadHeader(char* data, size_t size, size_t count, void* context) {
  Transfer* transfer = static_cast<Transfer*>(context);
  size_t bytes = size * count;
  static const char kRange[] = "content-range: bytes ";
  const size_t prefix = sizeof(kRange) - 1;
  if (bytes > prefix && strncasecmp(data, kRange, prefix) == 0) {
    transfer->range_start = std::strtol(data + prefix, nullptr, 10);
  } else if (bytes > 5 && std::strncmp(data, "HTTP/", 5) == 0) {
    transfer->range_start = -1;  // a new answer after a redirect
    transfer->location.clear();
  } else if (bytes > 9 && strncasecmp(data, "location:", 9) == 0) {
    std::string value(data + 9, bytes - 9);
    size_t first = value.find_first_not_of(" \t");
    size_t last = value.find_last_not_of(" \t\r\n");
    transfer->location = first == std::string::npos ? "" : value.substr(first, last - first + 1);
  }
  return bytes;
}

bool StartBody(Transfer* transfer) {
  transfer->started = true;
  long code = 0;
  curl_easy_getinfo(transfer->curl, CURLINFO_RESPONSE_CODE, &code);
  if (code < 200 || code > 299) {
    transfer->refused = true;
    return false;
  }
  bool partial = code == 206;
  if (partial &&
      (transfer->offset == 0 || transfer->range_start != static_cast<long>(transfer->offset))) {
    transfer->refused = true;
    return false;
  }
  if (!transfer->sink->Start(partial)) {
    transfer->stopped = true;
    return false;
  }
  return true;
}

size_t WriteBody(char* data, size_t size, size_t count, void* context) {
  Transfer* transfer = static_cast<Transfer*>(context);
  size_t bytes = size * count;
  if (!transfer->started && !StartBody(transfer)) return 0;
  if (!transfer->sink->Write(data, bytes)) {
    transfer->stopped = true;
    return 0;  // makes curl stop with a write error
  }
  transfer->received += bytes;
  return bytes;
}

bool IsTransientCode(CURLcode code) {
  switch (code) {
    case CURLE_COULDNT_RESOLVE_PROXY:
    case CURLE_COULDNT_RESOLVE_HOST:
    case CURLE_COULDNT_CONNECT:
    case CURLE_OPERATION_TIMEDOUT:
    case CURLE_PARTIAL_FILE:
    case CURLE_RECV_ERROR:
    case CURLE_SEND_ERROR:
    case CURLE_GOT_NOTHING:
    case CURLE_HTTP2:
    case CURLE_HTTP2_STREAM:
    case CURLE_SSL_CONNECT_ERROR:
      return true;
    default:
      return false;
  }
}

struct EasyCleanup {
  void operator()(CURL* curl) const { curl_easy_cleanup(curl); }
};

class CurlTransport : public HttpTransport {
 public:
  CurlTransport(const TransportOptions& options, CURL* curl) : options_(options), curl_(curl) {}

  TransferResult Get(const std::string& url, uint64_t offset, BodySink* sink) override {
    CURL* curl = curl_.get();
    Transfer transfer;
    transfer.curl = curl;
    transfer.offset = offset;
    transfer.sink = sink;
    char message[CURL_ERROR_SIZE] = {};
    // Reset keeps the connections, so that the next file reuses them.
    curl_easy_reset(curl);
    curl_easy_setopt(curl, CURLOPT_URL, url.c_str());
    curl_easy_setopt(curl, CURLOPT_PROTOCOLS_STR, "http,https");
    // A secure request stays secure: a redirect to plain http would hand the
    // release to anyone on the way, and say https all the same.
    bool secure = strncasecmp(url.c_str(), "https://", 8) == 0;
    curl_easy_setopt(curl, CURLOPT_REDIR_PROTOCOLS_STR, secure ? "https" : "http,https");
    curl_easy_setopt(curl, CURLOPT_FOLLOWLOCATION, 1L);
    curl_easy_setopt(curl, CURLOPT_MAXREDIRS, 5L);
    curl_easy_setopt(curl, CURLOPT_CONNECTTIMEOUT, static_cast<long>(options_.timeout_seconds));
    curl_easy_setopt(curl, CURLOPT_LOW_SPEED_LIMIT,
                     static_cast<long>(options_.min_bytes_per_second));
    curl_easy_setopt(curl, CURLOPT_LOW_SPEED_TIME, static_cast<long>(options_.timeout_seconds));
    if (!options_.ca_file.empty()) curl_easy_setopt(curl, CURLOPT_CAINFO, options_.ca_file.c_str());
    curl_easy_setopt(curl, CURLOPT_HTTP_VERSION, CURL_HTTP_VERSION_2TLS);
    curl_easy_setopt(curl, CURLOPT_ACCEPT_ENCODING, nullptr);
    // Large pieces: each one costs the sink a write and a pass through the
    // decoder, and the default 16 KiB makes that many calls for a big file.
    curl_easy_setopt(curl, CURLOPT_BUFFERSIZE, kReceiveBufferSize);
    if (offset > 0) {
      std::string range = std::to_string(offset) + "-";
      curl_easy_setopt(curl, CURLOPT_RANGE, range.c_str());
    }
    curl_easy_setopt(curl, CURLOPT_ERRORBUFFER, message);
    curl_easy_setopt(curl, CURLOPT_HEADERFUNCTION, ReadHeader);
    curl_easy_setopt(curl, CURLOPT_HEADERDATA, &transfer);
    curl_easy_setopt(curl, CURLOPT_WRITEFUNCTION, WriteBody);
    curl_easy_setopt(curl, CURLOPT_WRITEDATA, &transfer);
    CURLcode code = curl_easy_perform(curl);
    curl_easy_setopt(curl, CURLOPT_ERRORBUFFER, nullptr);
    // An empty body never reaches WriteBody.
    if (code == CURLE_OK && !transfer.started && !StartBody(&transfer)) code = CURLE_WRITE_ERROR;

    TransferResult result;
    long http_status = 0;
    curl_easy_getinfo(curl, CURLINFO_RESPONSE_CODE, &http_status);
    result.http_status = static_cast<int>(http_status);
    result.received = transfer.received;
    if (code == CURLE_OK) {
      result.status = TransferStatus::kOk;
    } else if (transfer.stopped) {
      result.status = TransferStatus::kStopped;
    } else if (transfer.refused) {
      if (http_status >= 200 && http_status <= 299) {
        result.status = TransferStatus::kFailed;
        result.error = "the server answered a range request with other bytes";
      } else {
        result.status = IsTransientHttpStatus(http_status) ? TransferStatus::kTransient
                                                           : TransferStatus::kFailed;
        result.error = "the server answered HTTP " + std::to_string(http_status);
      }
    } else if (secure && code == CURLE_UNSUPPORTED_PROTOCOL && !transfer.location.empty()) {
      result.status = TransferStatus::kFailed;
      result.error = "refusing the redirect from https to the insecure '" + transfer.location + "'";
    } else {
      result.status = IsTransientCode(code) ? TransferStatus::kTransient : TransferStatus::kFailed;
      result.error = message[0] != '\0' ? message : curl_easy_strerror(code);
      if (code == CURLE_OPERATION_TIMEDOUT && transfer.started) {
        result.error += " (slower than " + std::to_string(options_.min_bytes_per_second) +
                        " bytes a second for " + std::to_string(options_.timeout_seconds) + " s)";
      }
    }
    return result;
  }

 private:
  TransportOptions options_;
  std::unique_ptr<CURL, EasyCleanup> curl_;
};

}  // namespace

std::unique_ptr<HttpTransport> MakeHttpTransport(const TransportOptions& options,
                                                 std::string* error) {
  static const bool initialised = curl_global_init(CURL_GLOBAL_DEFAULT) == CURLE_OK;
  CURL* curl = initialised ? curl_easy_init() : nullptr;
  if (curl == nullptr) {
    *error = "cannot start libcurl";
    return nullptr;
  }
  return std::make_unique<CurlTransport>(options, curl);
}
