// Retries and resuming over a scripted transport: each try answers as the
// script says, so that what the sink receives can be checked byte for byte.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "transport/http_fetch.h"
#include "transport/http_status.h"

namespace {

const std::string kBody = "0123456789abcdefghijklmnopqrstuvwxyz";

// One answer of the scripted server.
struct Answer {
  enum Kind { kWhole, kRange, kRangeIgnored } kind;
  size_t cut_after;  // bytes sent before the connection drops; npos for all
  TransferStatus failure = TransferStatus::kTransient;  // when cut off
};

class ScriptedTransport : public HttpTransport {
 public:
  explicit ScriptedTransport(std::vector<Answer> script) : script_(std::move(script)) {}

  TransferResult Get(const std::string&, uint64_t offset, BodySink* sink) override {
    offsets.push_back(offset);
    TransferResult result;
    if (tries_ >= script_.size()) return result;  // kFailed: the script ran out
    const Answer& answer = script_[tries_++];
    bool partial = offset > 0 && answer.kind == Answer::kRange;
    size_t first = partial ? static_cast<size_t>(offset) : 0;
    if (!sink->Start(partial)) {
      result.status = TransferStatus::kStopped;
      return result;
    }
    std::string body = kBody.substr(first);
    size_t sent = answer.cut_after == std::string::npos ? body.size() : answer.cut_after;
    if (sent > 0 && !sink->Write(body.data(), sent)) {
      result.status = TransferStatus::kStopped;
      return result;
    }
    result.status = sent == body.size() ? TransferStatus::kOk : answer.failure;
    result.error = "cut off";
    return result;
  }

  std::vector<uint64_t> offsets;

 private:
  std::vector<Answer> script_;
  size_t tries_ = 0;
};

// Both back ends decide by this which failing answers are worth another
// try: a busy or failing server is, a refused or missing file is not (a
// retry would only wait for the same answer).
TEST(HttpFetchTest, OnlyTimeOutsThrottlingAndServerErrorsAreTriedAgain) {
  for (long status : {408L, 429L, 500L, 502L, 503L, 504L, 599L}) {
    EXPECT_TRUE(IsTransientHttpStatus(status)) << status;
  }
  for (long status : {301L, 304L, 400L, 401L, 403L, 404L, 410L, 416L, 499L}) {
    EXPECT_FALSE(IsTransientHttpStatus(status)) << status;
  }
}

TEST(HttpFetchTest, EveryByteReachesTheSinkOnceWhateverTheTries) {
  const size_t kAll = std::string::npos;
  struct Case {
    const char* name;
    std::vector<Answer> script;
    int retries;
    bool ok;
    std::vector<uint64_t> offsets;  // the byte each try asked to start at
  } cases[] = {
      {"whole at once", {{Answer::kWhole, kAll}}, 3, true, {0}},
      {"cut, then the rest by range",
       {{Answer::kWhole, 10}, {Answer::kRange, 5}, {Answer::kRange, kAll}},
       3,
       true,
       {0, 10, 15}},
      {"cut, then the whole again from a server without ranges",
       {{Answer::kWhole, 10}, {Answer::kRangeIgnored, kAll}},
       3,
       true,
       {0, 10}},
      {"cut with nothing sent, then whole",
       {{Answer::kWhole, 0}, {Answer::kWhole, kAll}},
       3,
       true,
       {0, 0}},
      {"out of retries", {{Answer::kWhole, 10}, {Answer::kRange, 5}}, 1, false, {0, 10}},
      {"a failure that will not pass is not tried again",
       {{Answer::kWhole, 10, TransferStatus::kFailed}, {Answer::kRange, kAll}},
       3,
       false,
       {0}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    ScriptedTransport transport(c.script);
    std::string received;
    StreamSink sink = [&](const char* data, size_t size) {
      received.append(data, size);
      return true;
    };
    RetryPolicy policy;
    policy.retries = c.retries;
    policy.first_delay_ms = 0;
    FetchStats stats;
    std::string error;
    EXPECT_EQ(FetchStream(&transport, "http://server/file", 0, sink, policy, &stats, &error), c.ok)
        << error;
    EXPECT_EQ(transport.offsets, c.offsets);
    // Whatever arrived is a prefix of the body, each byte once.
    EXPECT_EQ(received, kBody.substr(0, received.size()));
    if (c.ok) {
      EXPECT_EQ(received, kBody);
    }
    if (!c.ok && c.offsets.size() > 1) {
      EXPECT_NE(error.find("tried " + std::to_string(c.offsets.size()) + " times"),
                std::string::npos)
          << error;
    }
  }
}

// A fetch that starts part-way (an earlier run's bytes are kept) asks for
// the rest, and skips what it holds when the server sends everything.
TEST(HttpFetchTest, StartsFromAnOffset) {
  for (Answer::Kind kind : {Answer::kRange, Answer::kRangeIgnored}) {
    ScriptedTransport transport({{kind, std::string::npos}});
    std::string received;
    StreamSink sink = [&](const char* data, size_t size) {
      received.append(data, size);
      return true;
    };
    std::string error;
    ASSERT_TRUE(FetchStream(&transport, "u", 20, sink, RetryPolicy(), nullptr, &error)) << error;
    EXPECT_EQ(transport.offsets, std::vector<uint64_t>{20});
    EXPECT_EQ(received, kBody.substr(20));
  }
}

// A sink that says stop ends the fetch at once, without another try.
TEST(HttpFetchTest, ASinkThatStopsIsNotTriedAgain) {
  ScriptedTransport transport({{Answer::kWhole, std::string::npos}, {Answer::kWhole, 0}});
  StreamSink refuse = [](const char*, size_t) { return false; };
  std::string error;
  EXPECT_FALSE(FetchStream(&transport, "u", 0, refuse, RetryPolicy(), nullptr, &error));
  EXPECT_EQ(transport.offsets.size(), 1u);
}

}  // namespace
