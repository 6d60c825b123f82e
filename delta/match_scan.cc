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
// up to kMaxSkip. One as long or longer is stepped over.
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

int SuffixSearch::ThirdByteBits(int64_t old_size) {
  int bits = 0;
  while (bits < 8 && (int64_t{4} << (17 + bits)) <= old_size / 2) ++bits;
  return bits;
}

uint64_t SuffixSearch::IndexBytes(int64_t old_size) {
  return 4 * ((uint64_t{1} << (16 + ThirdByteBits(old_size))) + 1);
}

int32_t SuffixSearch::Key(const uint8_t* p, int64_t size) const {
  const int32_t b0 = p[0];
  const int32_t b1 = size > 1 ? p[1] : 0;
  const int32_t b2 = size > 2 ? p[2] : 0;
  return ((b0 << 16) | (b1 << 8) | b2) >> shift_;
}

SuffixSearch::SuffixSearch(const uint8_t* old_data, int64_t old_size, const int32_t* sa)
    : old_(old_data),
      old_size_(old_size),
      sa_(sa),
      shift_(8 - ThirdByteBits(old_size)),
      last_byte_(old_size > 0 ? old_data[old_size - 1] : -1),
      start_((size_t{1} << (24 - shift_)) + 1, 0) {
  // A suffix that is shorter than three bytes sorts before every longer one
  // that it begins, and reads as if padded with zeros: still first in its
  // key's run. So the runs follow from counting the keys in file order,
  // without reading sa at random.
  for (int64_t i = 0; i < old_size; ++i) ++start_[Key(old_data + i, old_size - i) + 1];
  for (size_t k = 1; k < start_.size(); ++k) start_[k] += start_[k - 1];
}

int64_t SuffixSearch::Longest(const uint8_t* text, int64_t size, int64_t* pos) const {
  *pos = 0;
  if (size < 2) return 0;
  // The suffixes beginning with text's two bytes: [bucket_lo, bucket_hi),
  // without the one-byte suffix, which leads the run of its byte and zero.
  const int32_t first = ((text[0] << 16) | (text[1] << 8)) >> shift_;
  const int32_t after = first + (1 << (8 - shift_));
  int64_t bucket_lo = start_[first];
  const int64_t bucket_hi = start_[after];
  if (text[1] == 0 && text[0] == last_byte_) ++bucket_lo;
  if (bucket_hi <= bucket_lo) return 0;

  // Where text sorts among them: the first that does not sort before it.
  // Those of a smaller key all do and those of a larger one do not, so
  // only text's own key's run is searched. Every suffix between two probes
  // shares with text at least the shorter of their matches, so each
  // comparison starts there rather than at the third byte: over long
  // matches that is most of the work.
  auto match = [&](int64_t p, int64_t from) {
    return from + MatchLength(old_ + p + from, text + from, std::min(old_size_ - p, size) - from);
  };
  const int32_t key = Key(text, size);
  int64_t below = std::max<int64_t>(start_[key], bucket_lo) - 1;  // sorts before text
  int64_t above = start_[key + 1];                                // does not
  int64_t below_match = 2, above_match = 2;
  while (above - below > 1) {
    const int64_t mid = below + (above - below) / 2;
    const int64_t p = sa_[mid];
    const int64_t l = match(p, std::min(below_match, above_match));
    // A suffix that is a prefix of text sorts before it.
    const bool before =
        l == std::min(old_size_ - p, size) ? old_size_ - p < size : old_[p + l] < text[l];
    if (before) {
      below = mid;
      below_match = l;
    } else {
      above = mid;
      above_match = l;
    }
  }
  // The longer match of text's two neighbours in the sorted order, kept
  // within the two-byte bucket; on a tie the later one.
  const int64_t lo = std::max(bucket_lo, std::min(above - 1, bucket_hi - 2));
  const int64_t hi = std::min(lo + 1, bucket_hi - 1);
  const int64_t llo = match(sa_[lo], 2);
  const int64_t lhi = hi == lo ? llo : match(sa_[hi], 2);
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
      int64_t step = std::min<int64_t>(1 + misses / kSkipAfter, kMaxSkip);
      // A match that does not beat the alignment is mostly found again, one
      // byte shorter, at each position inside it (shifted code, where the
      // alignment matches all but the moved addresses): step past it. A
      // better match starting inside it is still found further on and
      // extended backwards. On npm programs this halves the searches and
      // the patches come out no larger.
      if (len >= kShortMatch) step = std::max(step, len);
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
