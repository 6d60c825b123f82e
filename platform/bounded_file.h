// A whole small file read into memory, refusing one that is larger than its
// reader can sensibly hold (a hostile server or a planted file may be any
// size). The one reader of such files: one longer than the limit is refused
// whole, never cut to the limit, as a cut pointer or record could still
// read as a valid one.
#ifndef FILEDIST_PLATFORM_BOUNDED_FILE_H
#define FILEDIST_PLATFORM_BOUNDED_FILE_H

#include <cstddef>
#include <string>

namespace plat {

// False when the file cannot be opened or read, is not a regular file, or
// holds more than limit bytes; *contents is then as it was. With followLinks
// false a symbolic link at path is refused too (an install folder's own
// state files, which a planted link must not redirect; see OpenRegularFile).
bool ReadBoundedFile(const std::string& path, size_t limit, std::string* contents,
                     bool followLinks = true);

}  // namespace plat

#endif  // FILEDIST_PLATFORM_BOUNDED_FILE_H
