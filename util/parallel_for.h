// Work on many independent items shared out among a few threads: the
// calling thread takes items too, and the call returns once every item is
// done. For work that waits on the file system (a rename, a look at a name)
// more than on the processor.
#ifndef FILEDIST_UTIL_PARALLEL_FOR_H
#define FILEDIST_UTIL_PARALLEL_FOR_H

#include <cstddef>
#include <functional>

namespace util {

// Calls work(i) once for each i below count, from up to threads threads at
// once (this one among them), in no set order but that each thread takes
// runs of chunk neighbouring items: neighbours (files of one folder) then
// meet on one thread rather than wait on each other. Fewer threads than
// asked run the items when the system has no more to give, this one alone
// when it has none. work must not throw.
void ParallelFor(size_t count, size_t threads, size_t chunk,
                 const std::function<void(size_t)>& work);

}  // namespace util

#endif  // FILEDIST_UTIL_PARALLEL_FOR_H
