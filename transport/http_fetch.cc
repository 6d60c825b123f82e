#include "transport/http_fetch.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <thread>

namespace {

// The file being fetched, kept open across tries so that a resumed try
// appends where the last one stopped.
class FileSink : public BodySink {
 public:
  FileSink(const std::string& path, uint64_t max_size, const FileProgress& progress,
           FetchStats* stats)
      : path_(path), max_size_(max_size), progress_(progress), stats_(stats) {}
  ~FileSink() override {
    if (file_ != nullptr) std::fclose(file_);
  }
  FileSink(const FileSink&) = delete;
  FileSink& operator=(const FileSink&) = delete;

  bool Open() { return Truncate(); }

  bool Start(bool partial) override {
    if (partial) {
      ++stats_->resumed;
      return true;
    }
    // The whole body comes again: what is held goes.
    if (held_ == 0) return true;
    return Truncate();
  }

  bool Write(const char* data, size_t size) override {
    stats_->received += size;
    if (max_size_ != 0 && size > max_size_ - held_) {
      too_long_ = true;
      return false;
    }
    if (std::fwrite(data, 1, size, file_) != size) {
      write_failed_ = true;
      return false;
    }
    held_ += size;
    if (progress_) progress_(held_);
    return true;
  }

  bool Close() {
    bool closed = std::fclose(file_) == 0;
    file_ = nullptr;
    return closed;
  }

  uint64_t held() const { return held_; }
  bool too_long() const { return too_long_; }
  bool write_failed() const { return write_failed_; }

 private:
  bool Truncate() {
    if (file_ != nullptr) std::fclose(file_);
    file_ = std::fopen(path_.c_str(), "wb");
    held_ = 0;
    if (file_ == nullptr) {
      write_failed_ = true;
      return false;
    }
    if (progress_) progress_(0);
    return true;
  }

  std::string path_;
  uint64_t max_size_;
  const FileProgress& progress_;
  FetchStats* stats_;
  FILE* file_ = nullptr;
  uint64_t held_ = 0;
  bool too_long_ = false;
  bool write_failed_ = false;
};

}  // namespace

bool FetchToFile(HttpTransport* transport, const std::string& url, const std::string& dest,
                 uint64_t max_size, const RetryPolicy& policy, const FileProgress& progress,
                 FetchStats* stats, std::string* error) {
  FetchStats ignored;
  if (stats == nullptr) stats = &ignored;
  FileSink sink(dest, max_size, progress, stats);
  if (!sink.Open()) {
    *error = "cannot write " + dest;
    return false;
  }
  int delay_ms = policy.first_delay_ms;
  for (int attempt = 0;; ++attempt) {
    ++stats->tries;
    TransferResult result = transport->Get(url, sink.held(), &sink);
    if (result.status == TransferStatus::kOk) {
      if (!sink.Close()) {
        *error = "cannot write " + dest;
        return false;
      }
      return true;
    }
    if (result.status == TransferStatus::kStopped) {
      *error = sink.too_long() ? "the server sent more than the " + std::to_string(max_size) +
                                     " bytes the release lists for it"
                               : "cannot write " + dest;
      return false;
    }
    if (result.status == TransferStatus::kFailed || attempt >= policy.retries) {
      *error = result.error;
      if (attempt > 0) *error += " (tried " + std::to_string(attempt + 1) + " times)";
      return false;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(delay_ms));
    delay_ms = std::min(delay_ms * 2, policy.longest_delay_ms);
  }
}
