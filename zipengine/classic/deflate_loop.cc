#include "zipengine/classic/deflate_loop.h"

#include "zipengine/classic/deflate_blocks.h"
#include "zipengine/classic/match_finder.h"

namespace zipengine {
namespace {

void CloseCurrentBlock(Engine* engine, bool last) {
  MatchState& m = engine->match;
  const unsigned char* bytes = m.block_start >= 0 ? engine->window + m.block_start : nullptr;
  CloseBlock(engine, bytes, static_cast<uint32_t>(static_cast<long>(m.position) - m.block_start), last);
  m.block_start = m.position;
}

}  // namespace

void RunDeflate(Engine* engine) {
  MatchState& m = engine->match;
  const unsigned char* window = engine->window;
  unsigned match_length = kMinMatch - 1;
  bool literal_pending = false;  // the byte before position still waits

  while (m.lookahead != 0) {
    unsigned hash_key = m.hash_key;
    unsigned chain_head = InsertString(engine, m.position, hash_key);
    m.hash_key = hash_key;
    // The next position's chain walk starts from memory that is rarely in
    // the first-level cache; ask for it while this position is searched.
    unsigned next_head = engine->hash_head[UpdateHash(hash_key, window[m.position + kMinMatch])];
    __builtin_prefetch(engine->hash_chain + (next_head & kWindowMask));
    __builtin_prefetch(window + next_head);

    unsigned previous_length = match_length;
    unsigned previous_start = m.match_start;
    match_length = kMinMatch - 1;
    if (chain_head != 0 && previous_length < kMaxLazyMatch && m.position - chain_head <= kMaxDistance) {
      match_length = LongestMatch(engine, chain_head, previous_length);
      if (match_length > m.lookahead) match_length = m.lookahead;
      // A short match far back costs more than its literals.
      if (match_length == kMinMatch && m.position - m.match_start > kTooFar) --match_length;
    }

    if (previous_length >= kMinMatch && match_length <= previous_length) {
      // The match found one byte earlier is as good: take it.
      bool close = TallyMatch(engine, m.position - 1 - previous_start, previous_length,
                              static_cast<long>(m.position) - m.block_start);
      m.lookahead -= previous_length - 1;
      // The match's first byte and the current one are in the chains already.
      unsigned to_insert = previous_length - 2;
      unsigned position = m.position;
      hash_key = m.hash_key;
      do {
        ++position;
        InsertString(engine, position, hash_key);
      } while (--to_insert != 0);
      m.hash_key = hash_key;
      m.position = position + 1;
      literal_pending = false;
      match_length = kMinMatch - 1;
      if (close) CloseCurrentBlock(engine, false);
    } else if (literal_pending) {
      if (TallyLiteral(engine, window[m.position - 1], static_cast<long>(m.position) - m.block_start)) {
        CloseCurrentBlock(engine, false);
      }
      ++m.position;
      --m.lookahead;
    } else {
      literal_pending = true;
      ++m.position;
      --m.lookahead;
    }
    while (m.lookahead < kMinLookahead && !m.input_ended) FillWindow(engine);
  }
  if (literal_pending) TallyLiteral(engine, window[m.position - 1], static_cast<long>(m.position) - m.block_start);
  CloseCurrentBlock(engine, true);
}

}  // namespace zipengine
