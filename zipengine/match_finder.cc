#include "zipengine/match_finder.h"

#include "zipengine/source_reader.h"

namespace zipengine {

MatchState g_match;

namespace {

void SlideWindow() {
  std::memcpy(g_engine.window, g_engine.window + kWindowSize, kWindowSize);
  g_match.match_start -= kWindowSize;
  g_match.position -= kWindowSize;
  g_match.block_start -= static_cast<long>(kWindowSize);
  // Entries that pointed into the lower half now point nowhere.
  for (uint16_t& entry : g_engine.hash_head) entry = entry >= kWindowSize ? static_cast<uint16_t>(entry - kWindowSize) : 0;
  for (uint16_t& entry : g_engine.hash_chain) entry = entry >= kWindowSize ? static_cast<uint16_t>(entry - kWindowSize) : 0;
}

}  // namespace

unsigned LongestMatch(unsigned chain_head, unsigned previous_length) {
  const unsigned char* window = g_engine.window;
  const uint16_t* chain = g_engine.hash_chain;
  unsigned position = g_match.position;
  const unsigned char* scan = window + position;
  unsigned chain_budget = previous_length >= kGoodMatch ? kMaxChain >> 2 : kMaxChain;
  unsigned best = previous_length;
  unsigned limit = position > kMaxDistance ? position - kMaxDistance : 0;
  // Only a candidate equal to the string in all of bytes 0..best can beat
  // the best so far. Checking four bytes at each end of that range (three
  // while best is 2) rejects nearly every other candidate before its full
  // comparison; it covers the usual check of the first two bytes and the
  // two at the best length, so the same candidates win.
  unsigned end_offset = best >= 3 ? best - 3 : 0;
  uint32_t mask = best >= 3 ? 0xffffffffu : 0x00ffffffu;
  uint32_t scan_start = Load32(scan) & mask;
  uint32_t scan_end = Load32(scan + end_offset) & mask;
  unsigned candidate = chain_head;
  do {
    const unsigned char* match = window + candidate;
    if ((Load32(match + end_offset) & mask) != scan_end || (Load32(match) & mask) != scan_start) continue;
    unsigned length = 2 + CommonLength(scan + 2, match + 2);
    if (length > best) {
      g_match.match_start = candidate;
      best = length;
      if (length >= kNiceMatch) break;
      end_offset = best - 3;
      mask = 0xffffffffu;
      scan_start = Load32(scan);
      scan_end = Load32(scan + end_offset);
    }
  } while ((candidate = chain[candidate & kWindowMask]) > limit && --chain_budget != 0);
  return best;
}

void FillWindow() {
  unsigned free_space = 2 * kWindowSize - g_match.lookahead - g_match.position;
  if (g_match.position >= kWindowSize + kMaxDistance) {
    SlideWindow();
    free_space += kWindowSize;
  }
  if (g_match.input_ended) return;
  long got = ReadSource(g_engine.window + g_match.position + g_match.lookahead, free_space);
  if (got <= 0) {
    g_match.input_ended = true;
  } else {
    g_match.lookahead += static_cast<unsigned>(got);
  }
}

void StartMatchFinder() {
  // Bytes past the input's end take part in comparisons (their results are
  // clipped to the lookahead); clearing them keeps the output independent of
  // earlier runs.
  std::memset(g_engine.window, 0, sizeof g_engine.window);
  std::memset(g_engine.hash_head, 0, sizeof g_engine.hash_head);
  g_match = MatchState{};
  long got = ReadSource(g_engine.window, 2 * kWindowSize);
  if (got <= 0) {
    g_match.input_ended = true;
    g_match.lookahead = 0;
    return;
  }
  g_match.lookahead = static_cast<unsigned>(got);
  while (g_match.lookahead < kMinLookahead && !g_match.input_ended) FillWindow();
  g_match.hash_key = 0;
  for (unsigned j = 0; j < kMinMatch - 1; ++j) g_match.hash_key = UpdateHash(g_match.hash_key, g_engine.window[j]);
}

}  // namespace zipengine
