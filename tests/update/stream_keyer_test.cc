// The keyer beside a download: whether its digests and the writing run on
// helper threads or not, and however the decoder cuts its output, the key,
// the SHA-256 and the bytes written are the whole file's, in order, and a
// write that failed is told.
#include "update/stream_keyer.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <string>

#include "support/gzip_oracle.h"
#include "support/release_oracles.h"

namespace {

TEST(StreamKeyer, KeysAndWritesEveryByteInOrder) {
  // Several pieces of the ring, the last one part full.
  const std::string bytes = testing_support::RandomBytes((3 << 20) + 4097, 31);
  const std::string key = testing_support::KeyOfBytes(bytes);
  const std::string sha256 = testing_support::Sha256OfBytes(bytes);
  ASSERT_EQ(sha256.size(), 64u);
  for (bool aside : {false, true}) {
    for (bool with_sha256 : {false, true}) {
      for (size_t step : {size_t{65536}, size_t{(1 << 20) + 1}, size_t{999983}}) {
        SCOPED_TRACE(std::string(aside ? "aside" : "inline") + (with_sha256 ? ", SHA-256" : "") +
                     ", pieces of " + std::to_string(step));
        std::string written;
        update::StreamKeyer keyer(aside, with_sha256,
                                  [&written](const unsigned char* data, size_t size) {
                                    written.append(reinterpret_cast<const char*>(data), size);
                                    return true;
                                  });
        for (size_t at = 0; at < bytes.size(); at += step) {
          ASSERT_TRUE(keyer.Add(bytes.data() + at, std::min(step, bytes.size() - at)));
          // Drained, the file holds every byte added: a resume record
          // written then names only bytes that are there.
          if (at / step == 2) {
            ASSERT_TRUE(keyer.Drain());
            ASSERT_TRUE(written == bytes.substr(0, at + step));
          }
        }
        EXPECT_EQ(keyer.Finish(), key);
        EXPECT_EQ(keyer.sha256(), with_sha256 ? sha256 : "");
        EXPECT_EQ(keyer.size(), bytes.size());
        EXPECT_TRUE(written == bytes);
      }
    }
  }
}

// A decoder lent the keyer's room makes its output there, at times past
// the room's end by as much as it may; bytes copied in between take the
// room away until the next piece, as the window put before it would
// overwrite them.
TEST(StreamKeyer, TakesBytesMadeInItsRoom) {
  const std::string bytes = testing_support::RandomBytes((5 << 20) + 77, 33);
  std::string written;
  update::StreamKeyer keyer(true, true, [&written](const unsigned char* data, size_t size) {
    written.append(reinterpret_cast<const char*>(data), size);
    return true;
  });
  size_t at = 0;
  for (int round = 0; at < bytes.size(); ++round) {
    size_t room = 0;
    unsigned char* place = keyer.Room(&room);
    size_t step = std::min<size_t>(round % 3 == 0 ? room + kDecodeRoomAfter : 70001 + round,
                                   bytes.size() - at);
    if (round % 5 == 4 || place == nullptr) {
      ASSERT_TRUE(keyer.Add(bytes.data() + at, step));
      if (round % 5 == 4 && step % (1 << 20) != 0) {
        EXPECT_EQ(keyer.Room(&room), nullptr) << "after a copy, round " << round;
      }
    } else {
      ASSERT_GT(room, 0u);
      step = std::min(step, room + kDecodeRoomAfter);
      // A decoder puts its window before the place.
      size_t window = std::min(at, kDecodeRoomBefore);
      std::copy(bytes.begin() + (at - window), bytes.begin() + at, place - window);
      std::copy(bytes.begin() + at, bytes.begin() + at + step, place);
      ASSERT_TRUE(keyer.Add(place, step));
    }
    at += step;
  }
  EXPECT_EQ(keyer.Finish(), testing_support::KeyOfBytes(bytes));
  EXPECT_EQ(keyer.sha256(), testing_support::Sha256OfBytes(bytes));
  EXPECT_TRUE(written == bytes);
}

TEST(StreamKeyer, AFailedWriteIsTold) {
  const std::string bytes = testing_support::RandomBytes(3 << 20, 32);
  for (bool aside : {false, true}) {
    SCOPED_TRACE(aside ? "aside" : "inline");
    int calls = 0;
    update::StreamKeyer keyer(aside, true,
                              [&calls](const unsigned char*, size_t) { return ++calls < 2; });
    for (size_t at = 0; at < bytes.size(); at += 65536) keyer.Add(bytes.data() + at, 65536);
    EXPECT_FALSE(keyer.Drain());
    EXPECT_FALSE(keyer.Add("x", 1));
    // After a failure nothing more is written.
    EXPECT_EQ(calls, 2);
  }
}

}  // namespace
