#include "fuzz/gzip_oracle.h"

#include <zlib.h>

#include <climits>
#include <cstring>

namespace fuzz {

namespace {

// Appends one member's data to out; *used receives the bytes it took.
bool AppendMember(const uint8_t* data, size_t size, std::string* out, size_t* used) {
  *used = 0;
  if (size > UINT_MAX) return false;
  z_stream stream;
  std::memset(&stream, 0, sizeof stream);
  // 16 + 15: a gzip wrapper only, the largest window.
  if (inflateInit2(&stream, 16 + 15) != Z_OK) return false;
  stream.next_in = const_cast<Bytef*>(data);
  stream.avail_in = static_cast<uInt>(size);
  unsigned char buffer[16384];
  int result = Z_OK;
  while (result == Z_OK) {
    stream.next_out = buffer;
    stream.avail_out = sizeof buffer;
    result = inflate(&stream, Z_NO_FLUSH);
    out->append(reinterpret_cast<char*>(buffer), sizeof buffer - stream.avail_out);
    // No progress with all the input used: the member is cut off.
    if (result == Z_BUF_ERROR) break;
  }
  *used = size - stream.avail_in;
  inflateEnd(&stream);
  return result == Z_STREAM_END;
}

bool StartsWithMagic(const uint8_t* data, size_t size) {
  return size >= 2 && data[0] == 0x1f && data[1] == 0x8b;
}

}  // namespace

bool ZlibFirstMember(const uint8_t* data, size_t size, std::string* out, size_t* used) {
  out->clear();
  size_t taken = 0;
  bool decoded = AppendMember(data, size, out, &taken);
  if (used != nullptr) *used = taken;
  return decoded;
}

bool ZlibMembers(const uint8_t* data, size_t size, std::string* out) {
  out->clear();
  do {
    size_t used = 0;
    if (!AppendMember(data, size, out, &used)) return false;
    data += used;
    size -= used;
  } while (StartsWithMagic(data, size));
  return true;
}

}  // namespace fuzz
