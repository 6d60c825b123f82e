#include "delta/match_scan.h"

#include <algorithm>
#include <cstring>

namespace delta {
namespace {

// A match this much longer than what the current alignment already gives
// starts a new instruction. Measured on npm releases: 8 (bsdiff's) gives
// patches 1% larger over programs a few releases apart and 13% larger over
// reworked text; 16 and more lose on adjacent releases of programs.
constexpr int64_t kBetterBy = 12;
// A match this long is taken as it is: searching on a byte at a time
// through a long match that ties with the current alignment would cost the
// square of its length.
constexpr int64_t kLongMatch = 1 << 12;
// A match shorter than this counts as none for the skipping below: after
// kSkipAfter of them in a row the scan steps one more position at a time,
// up to kMaxSkip.
constexpr int64_t kShortMatch = 8;
constexpr int64_t kSkipAfter = 32;
constexpr int64_t kMaxSkip = 16;

}  // namespace

int64_t MatchLength(const uint8_t* a, const uint8_t* b, int64_t limit) {
  int64_t n = 0;
  while (n + 8 <= limit) {
    uint64_t x, y;
    std::memcpy(&x, a + n, 8);
    std::memcpy(&y, b + n, 8);
    if (x != y) break;
    n += 8;
  }
  while (n < limit && a[n] == b[n]) ++n;
  return n;
}

SuffixSearch::SuffixSearch(const uint8_t* old_data, int64_t old_size, const int32_t* sa)
    : old_(old_data), old_size_(old_size), sa_(sa), start_(65536, 0), end_(65536, 0) {
  // Suffixes with the same two first bytes lie side by side in sa, in the
  // order of those bytes, each first byte's run led by the one-byte suffix
  // when the file ends in that byte: the ranges follow from counting the
  // pairs in file order, without reading sa at random.
  std::vector<int32_t> count(65536, 0);
  for (int64_t i = 0; i + 1 < old_size; ++i) ++count[(old_data[i] << 8) | old_data[i + 1]];
  const int last = old_size > 0 ? old_data[old_size - 1] : -1;
  int32_t at = 0;
  for (int key = 0; key < 65536; ++key) {
    if ((key & 0xff) == 0 && (key >> 8) == last) ++at;
    if (count[key] != 0) {
      start_[key] = at;
      end_[key] = at + count[key];
    }
    at += count[key];
  }
}

int64_t SuffixSearch::Longest(const uint8_t* text, int64_t size, int64_t* pos) const {
  *pos = 0;
  if (size < 2) return 0;
  const int key = (text[0] << 8) | text[1];
  int64_t lo = start_[key];
  int64_t hi = end_[key] - 1;
  if (hi < lo) return 0;
  // Every suffix in [lo, hi] begins with text's two bytes: narrow to two
  // neighbours around where text would sort, then take the longer match.
  // Every suffix between lo and hi shares with text at least the shorter
  // of their matches, so each comparison starts there rather than at the
  // third byte: over long matches that is most of the work.
  auto match = [&](int64_t p, int64_t from) {
    return from + MatchLength(old_ + p + from, text + from, std::min(old_size_ - p, size) - from);
  };
  int64_t llo = match(sa_[lo], 2);
  int64_t lhi = hi == lo ? llo : match(sa_[hi], 2);
  while (hi - lo >= 2) {
    const int64_t mid = lo + (hi - lo) / 2;
    const int64_t p = sa_[mid];
    const int64_t l = match(p, std::min(llo, lhi));
    // A suffix that is a prefix of text sorts before it.
    const bool before = l == std::min(old_size_ - p, size) ? old_size_ - p < size : old_[p + l] < text[l];
    if (before) {
      lo = mid;
      llo = l;
    } else {
      hi = mid;
      lhi = l;
    }
  }
  if (llo > lhi) {
    *pos = sa_[lo];
    return llo;
  }
  *pos = sa_[hi];
  return lhi;
}

bool ScanMatches(const uint8_t* old_data, int64_t old_size, const SuffixSearch& search,
                 const uint8_t* new_data, int64_t new_size, InstructionSink* sink) {
  int64_t scan = 0, len = 0, pos = 0;
  int64_t last_scan = 0, last_pos = 0, last_offset = 0;
  auto old_at = [&](int64_t i) { return i >= 0 && i < old_size ? old_data[i] : -1; };

  while (scan < new_size) {
    // Find the next place where a match beats the current alignment
    // (old = new + last_offset) by enough to pay for an instruction.
    int64_t old_score = 0;
    int64_t counted = scan += len;
    int64_t misses = 0;
    while (scan < new_size) {
      len = search.Longest(new_data + scan, new_size - scan, &pos);
      for (; counted < scan + len; ++counted) {
        if (old_at(counted + last_offset) == new_data[counted]) ++old_score;
      }
      if ((len == old_score && len != 0) || len > old_score + kBetterBy || len >= kLongMatch) break;
      // Where nothing matches (new code, packed data), search at every
      // position costs the most and finds the least: after kSkipAfter
      // short matches in a row, step further each time. A match found
      // later is extended backwards over the positions passed.
      misses = len < kShortMatch ? misses + 1 : 0;
      const int64_t step = std::min<int64_t>(1 + misses / kSkipAfter, kMaxSkip);
      const int64_t next = std::min(scan + step, new_size);
      for (int64_t k = scan; k < std::min(next, counted); ++k) {
        if (old_at(k + last_offset) == new_data[k]) --old_score;
      }
      if (counted < next) counted = next;
      scan = next;
    }
    if (len == old_score && scan != new_size) continue;

    // Extend the last match forwards and this one backwards as long as
    // more than half the bytes agree, then split any overlap where the
    // two agree best.
    int64_t length_forward = 0;
    {
      int64_t s = 0, best = 0;
      for (int64_t i = 0; last_scan + i < scan && last_pos + i < old_size;) {
        if (old_data[last_pos + i] == new_data[last_scan + i]) ++s;
        ++i;
        if (s * 2 - i > best * 2 - length_forward) {
          best = s;
          length_forward = i;
        }
      }
    }
    int64_t length_back = 0;
    if (scan < new_size) {
      int64_t s = 0, best = 0;
      for (int64_t i = 1; scan >= last_scan + i && pos >= i; ++i) {
        if (old_data[pos - i] == new_data[scan - i]) ++s;
        if (s * 2 - i > best * 2 - length_back) {
          best = s;
          length_back = i;
        }
      }
    }
    if (last_scan + length_forward > scan - length_back) {
      const int64_t overlap = (last_scan + length_forward) - (scan - length_back);
      int64_t s = 0, best = 0, split = 0;
      for (int64_t i = 0; i < overlap; ++i) {
        if (new_data[last_scan + length_forward - overlap + i] ==
            old_data[last_pos + length_forward - overlap + i]) {
          ++s;
        }
        if (new_data[scan - length_back + i] == old_data[pos - length_back + i]) --s;
        if (s > best) {
          best = s;
          split = i + 1;
        }
      }
      length_forward += split - overlap;
      length_back -= split;
    }

    Instruction in;
    in.old_pos = last_pos;
    in.new_pos = last_scan;
    in.add = length_forward;
    in.insert = (scan - length_back) - (last_scan + length_forward);
    if (!sink->Take(in)) return false;

    last_scan = scan - length_back;
    last_pos = pos - length_back;
    last_offset = pos - scan;
  }
  return true;
}

}  // namespace delta
