// CRC-32 of RFC 1952 (reflected polynomial 0xEDB88320), as a running
// register: start it at 0xffffffff and complement it at the end.
#ifndef FILEDIST_ZIPENGINE_COMMON_CRC32_H
#define FILEDIST_ZIPENGINE_COMMON_CRC32_H

#include <cstddef>
#include <cstdint>

namespace zipengine {

uint32_t UpdateCrc32(uint32_t crc_register, const unsigned char* data, size_t length);

}  // namespace zipengine

#endif  // FILEDIST_ZIPENGINE_COMMON_CRC32_H
