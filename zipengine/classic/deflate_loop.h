// The compressor's main loop: lazy matching over the whole input.
#ifndef FILEDIST_ZIPENGINE_CLASSIC_DEFLATE_LOOP_H
#define FILEDIST_ZIPENGINE_CLASSIC_DEFLATE_LOOP_H

#include "zipengine/classic/engine.h"

namespace zipengine {

// Compresses everything the match finder's window will receive into
// deflate blocks, the last one marked final.
void RunDeflate(Engine* engine);

}  // namespace zipengine

#endif  // FILEDIST_ZIPENGINE_CLASSIC_DEFLATE_LOOP_H
