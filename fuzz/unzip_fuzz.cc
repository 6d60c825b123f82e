// CUnzip on arbitrary input. The engine may refuse the input (-1) or throw a
// CZipException; anything else that leaves SwapSize, and any memory error,
// is a fault. Where the input is a gzip member that zlib also decodes, both
// must give the same bytes; a member zlib accepts must not be refused.
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>

#include "fuzz/fuzz_support.h"
#include "fuzz/gzip_oracle.h"
#include "zip_classes.h"

namespace {

// Left in the destination before each run: a run that writes must replace
// it whole, a refusal before any output must leave it.
const char kOldDestination[] = "old destination bytes that no output may keep";

bool StartsWith(const uint8_t* data, size_t size, const char* prefix, size_t length) {
  return size >= length && std::memcmp(data, prefix, length) == 0;
}

// A member zlib and the engine read the same way: flag bit 0x02 is clear
// (the engine refuses it as a multi-part file, zlib reads a header CRC).
bool IsComparableGzip(const uint8_t* data, size_t size) {
  return size >= 4 && data[0] == 0x1f && data[1] == 0x8b && (data[3] & 0x02) == 0;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static const std::string source = fuzz::ScratchPath("unzip-source.gz");
  static const std::string destination = fuzz::ScratchPath("unzip-destination");
  fuzz::WriteBytes(source, data, size);
  fuzz::WriteBytes(destination, std::string(kOldDestination));

  CUnzip unzip(source.c_str());
  int result = 1;
  bool threw = false;
  try {
    result = unzip.SwapSize(destination.c_str());
  } catch (const CZipException& error) {
    threw = true;
    FUZZ_CHECK(std::strcmp(error.GetString(), "problem with zipping/unzipping operation : 1") == 0);
  }
  if (!threw) FUZZ_CHECK(result == 0 || result == -1);

  std::string output;
  FUZZ_CHECK(fuzz::ReadBytes(destination, &output));
  // Only a zip archive with a second entry is refused after writing.
  if (!threw && result == -1 && !StartsWith(data, size, "PK\003\004", 4)) {
    FUZZ_CHECK(output == kOldDestination);
  }

  if (!IsComparableGzip(data, size)) return 0;
  std::string expected;
  bool zlibAccepts = fuzz::ZlibFirstMember(data, size, &expected);
  if (zlibAccepts) {
    FUZZ_CHECK(!threw && result == 0);
    FUZZ_CHECK(output == expected);
  }
  return 0;
}
