// CZip then CUnzip on arbitrary data: the engine's own reader must give the
// data back, and zlib must read the engine's gzip file, one member with
// nothing after it, to the same bytes.
#include <cstdint>
#include <string>

#include "fuzz/fuzz_support.h"
#include "fuzz/gzip_oracle.h"
#include "zip_classes.h"

namespace {

// Output left where each run writes: a run must replace it whole.
const char kOldBytes[] = "bytes of an earlier run that must not survive";

int Swap(CMamaZip& engine, const std::string& destination) {
  try {
    return engine.SwapSize(destination.c_str());
  } catch (const CZipException& error) {
    fuzz::Fail(error.GetString(), __FILE__, __LINE__);
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static const std::string plain = fuzz::ScratchPath("round-trip.bin");
  static const std::string packed = fuzz::ScratchPath("round-trip.bin.gz");
  static const std::string unpacked = fuzz::ScratchPath("round-trip.out");
  const std::string input(reinterpret_cast<const char*>(data), size);
  fuzz::WriteBytes(plain, input);
  fuzz::WriteBytes(packed, std::string(kOldBytes));
  fuzz::WriteBytes(unpacked, std::string(kOldBytes));

  CZip zip(plain.c_str());
  FUZZ_CHECK(Swap(zip, packed) == 0);
  CUnzip unzip(packed.c_str());
  FUZZ_CHECK(Swap(unzip, unpacked) == 0);

  std::string output;
  FUZZ_CHECK(fuzz::ReadBytes(unpacked, &output));
  FUZZ_CHECK(output == input);

  std::string gzip;
  FUZZ_CHECK(fuzz::ReadBytes(packed, &gzip));
  std::string byZlib;
  size_t used = 0;
  FUZZ_CHECK(fuzz::ZlibFirstMember(reinterpret_cast<const uint8_t*>(gzip.data()), gzip.size(),
                                   &byZlib, &used));
  FUZZ_CHECK(byZlib == input);
  // One member and nothing after it, not even bytes of an earlier file.
  FUZZ_CHECK(used == gzip.size());
  return 0;
}
