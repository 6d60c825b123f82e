#include <curl/curl.h>

#include <cstdio>
#include <memory>

#include "cli/http_download.h"

namespace {

struct Transfer {
  FILE* out = nullptr;
  const BodySink* sink = nullptr;  // takes the body instead of out when set
  bool write_failed = false;
  const ByteProgress* progress = nullptr;
};

size_t WriteBody(char* data, size_t size, size_t count, void* context) {
  Transfer* transfer = static_cast<Transfer*>(context);
  size_t bytes = size * count;
  bool taken = transfer->sink != nullptr ? (*transfer->sink)(data, bytes)
                                         : std::fwrite(data, 1, bytes, transfer->out) == bytes;
  if (!taken) {
    transfer->write_failed = true;
    return 0;  // makes curl stop with a write error
  }
  return bytes;
}

int ReportProgress(void* context, curl_off_t, curl_off_t received, curl_off_t, curl_off_t) {
  Transfer* transfer = static_cast<Transfer*>(context);
  if (transfer->progress != nullptr && *transfer->progress && received > 0) (*transfer->progress)(static_cast<uint64_t>(received));
  return 0;
}

struct EasyCleanup {
  void operator()(CURL* curl) const { curl_easy_cleanup(curl); }
};

// One handle for the whole run, so that every file reuses the connection.
CURL* SharedHandle() {
  static std::unique_ptr<CURL, EasyCleanup> handle = [] {
    curl_global_init(CURL_GLOBAL_DEFAULT);
    return std::unique_ptr<CURL, EasyCleanup>(curl_easy_init());
  }();
  return handle.get();
}

}  // namespace

namespace {

// Runs one transfer into transfer; false with *error set on failure.
bool Perform(const std::string& url, Transfer* transfer, std::string* error) {
  CURL* curl = SharedHandle();
  if (curl == nullptr) {
    *error = "cannot start libcurl";
    return false;
  }
  char message[CURL_ERROR_SIZE] = {};
  curl_easy_reset(curl);
  curl_easy_setopt(curl, CURLOPT_URL, url.c_str());
  curl_easy_setopt(curl, CURLOPT_PROTOCOLS_STR, "http,https");
  curl_easy_setopt(curl, CURLOPT_REDIR_PROTOCOLS_STR, "http,https");
  curl_easy_setopt(curl, CURLOPT_FOLLOWLOCATION, 1L);
  curl_easy_setopt(curl, CURLOPT_MAXREDIRS, 5L);
  curl_easy_setopt(curl, CURLOPT_FAILONERROR, 1L);
  curl_easy_setopt(curl, CURLOPT_CONNECTTIMEOUT, 30L);
  // A server that stops sending for a minute is given up on.
  curl_easy_setopt(curl, CURLOPT_LOW_SPEED_LIMIT, 1L);
  curl_easy_setopt(curl, CURLOPT_LOW_SPEED_TIME, 60L);
  curl_easy_setopt(curl, CURLOPT_ERRORBUFFER, message);
  curl_easy_setopt(curl, CURLOPT_WRITEFUNCTION, WriteBody);
  curl_easy_setopt(curl, CURLOPT_WRITEDATA, transfer);
  curl_easy_setopt(curl, CURLOPT_NOPROGRESS, 0L);
  curl_easy_setopt(curl, CURLOPT_XFERINFOFUNCTION, ReportProgress);
  curl_easy_setopt(curl, CURLOPT_XFERINFODATA, transfer);
  CURLcode result = curl_easy_perform(curl);
  curl_easy_setopt(curl, CURLOPT_ERRORBUFFER, nullptr);
  if (result == CURLE_OK) return true;
  *error = transfer->write_failed ? "the body was refused"
                                  : (message[0] != '\0' ? message : curl_easy_strerror(result));
  return false;
}

}  // namespace

bool HttpDownload(const std::string& url, const std::string& dest, const ByteProgress& progress,
                  std::string* error) {
  Transfer transfer;
  transfer.out = std::fopen(dest.c_str(), "wb");
  transfer.progress = &progress;
  if (transfer.out == nullptr) {
    *error = "cannot write " + dest;
    return false;
  }
  bool ok = Perform(url, &transfer, error);
  bool closed = std::fclose(transfer.out) == 0;
  if (!ok) {
    if (transfer.write_failed) *error = "cannot write " + dest;
    return false;
  }
  if (!closed) {
    *error = "cannot write " + dest;
    return false;
  }
  return true;
}

bool HttpDownloadTo(const std::string& url, const BodySink& sink, std::string* error) {
  Transfer transfer;
  transfer.sink = &sink;
  return Perform(url, &transfer, error);
}
