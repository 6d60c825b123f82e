#include "zipengine/classic/match_finder.h"

#include "zipengine/classic/source_reader.h"

namespace zipengine {
namespace {

void SlideWindow(Engine* engine) {
  MatchState& m = engine->match;
  std::memcpy(engine->window, engine->window + kWindowSize, kWindowSize);
  m.match_start -= kWindowSize;
  m.position -= kWindowSize;
  m.block_start -= static_cast<long>(kWindowSize);
  // Entries that pointed into the lower half now point nowhere.
  for (uint16_t& entry : engine->hash_head)
    entry = entry >= kWindowSize ? static_cast<uint16_t>(entry - kWindowSize) : 0;
  for (uint16_t& entry : engine->hash_chain)
    entry = entry >= kWindowSize ? static_cast<uint16_t>(entry - kWindowSize) : 0;
}

}  // namespace

unsigned LongestMatch(Engine* engine, unsigned chain_head, unsigned previous_length) {
  const unsigned char* window = engine->window;
  const uint16_t* chain = engine->hash_chain;
  unsigned position = engine->match.position;
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
      engine->match.match_start = candidate;
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

void FillWindow(Engine* engine) {
  MatchState& m = engine->match;
  unsigned free_space = 2 * kWindowSize - m.lookahead - m.position;
  if (m.position >= kWindowSize + kMaxDistance) {
    SlideWindow(engine);
    free_space += kWindowSize;
  }
  if (m.input_ended) return;
  long got = ReadSource(engine, engine->window + m.position + m.lookahead, free_space);
  if (got <= 0) {
    m.input_ended = true;
  } else {
    m.lookahead += static_cast<unsigned>(got);
  }
}

void ReadFirstWindow(Engine* engine) {
  // Bytes past the input's end take part in comparisons (their results are
  // clipped to the lookahead); clearing them keeps the output independent of
  // earlier runs.
  std::memset(engine->window, 0, sizeof engine->window);
  std::memset(engine->hash_head, 0, sizeof engine->hash_head);
  MatchState& m = engine->match;
  long got = ReadSource(engine, engine->window, 2 * kWindowSize);
  if (got <= 0) {
    m.input_ended = true;
    m.lookahead = 0;
    return;
  }
  m.lookahead = static_cast<unsigned>(got);
  while (m.lookahead < kMinLookahead && !m.input_ended) FillWindow(engine);
  m.hash_key = 0;
  for (unsigned j = 0; j < kMinMatch - 1; ++j) m.hash_key = UpdateHash(m.hash_key, engine->window[j]);
}

}  // namespace zipengine
