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
