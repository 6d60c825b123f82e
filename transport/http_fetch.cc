#include "transport/http_fetch.h"

#include <algorithm>
#include <chrono>
#include <thread>

namespace {

// Passes a body on to the caller's sink once, across tries.
class ResumingSink : public BodySink {
 public:
  ResumingSink(uint64_t offset, const StreamSink& sink, FetchStats* stats)
      : sink_(sink), stats_(stats), delivered_(offset) {}

  bool Start(bool partial) override {
    // A partial answer starts where the last try stopped; a whole one has
    // the bytes already taken skipped.
    skip_ = partial ? 0 : delivered_;
    if (partial) ++stats_->resumed;
    return true;
  }

  bool Write(const char* data, size_t size) override {
    stats_->received += size;
    if (skip_ > 0) {
      size_t skipped = static_cast<size_t>(std::min<uint64_t>(skip_, size));
      skip_ -= skipped;
      data += skipped;
      size -= skipped;
      if (size == 0) return true;
    }
    if (!sink_(data, size)) return false;
    delivered_ += size;
    return true;
  }

  uint64_t delivered() const { return delivered_; }

 private:
  const StreamSink& sink_;
  FetchStats* stats_;
  uint64_t delivered_;
  uint64_t skip_ = 0;
};

}  // namespace

bool FetchStream(HttpTransport* transport, const std::string& url, uint64_t offset,
                 const StreamSink& sink, const RetryPolicy& policy, FetchStats* stats,
                 std::string* error) {
  FetchStats ignored;
  if (stats == nullptr) stats = &ignored;
  ResumingSink resuming(offset, sink, stats);
  int delay_ms = policy.first_delay_ms;
  for (int attempt = 0;; ++attempt) {
    ++stats->tries;
    TransferResult result = transport->Get(url, resuming.delivered(), &resuming);
    switch (result.status) {
      case TransferStatus::kOk:
        return true;
      case TransferStatus::kStopped:
        *error = "the body was refused";
        return false;
      case TransferStatus::kFailed:
      case TransferStatus::kTransient:
        break;
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
