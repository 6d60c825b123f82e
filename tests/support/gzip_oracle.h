// Helpers for the gzip engine tests: zlib as an independent gzip writer and
// reader, the committed oracle files, and one-call runs of CZip and CUnzip.
#ifndef FILEDIST_TESTS_SUPPORT_GZIP_ORACLE_H
#define FILEDIST_TESTS_SUPPORT_GZIP_ORACLE_H

#include <string>

namespace testing_support {

struct ZlibGzipOptions {
  int level = 6;
  const char* name = nullptr;     // stored when not null
  const char* comment = nullptr;  // stored when not null
  std::string extra;              // extra field, stored when not empty
  bool text_flag = false;         // flag bit 0x01
  bool header_crc = false;        // flag bit 0x02
};

// A gzip member written by zlib.
std::string ZlibGzip(const std::string& data, const ZlibGzipOptions& options = {});

// Expands one gzip member with zlib; false when zlib refuses it.
bool ZlibGunzip(const std::string& member, std::string* data);

// A raw deflate stream written by zlib.
std::string ZlibDeflateRaw(const std::string& data, int level);

// Path of a file under tests/data/zip.
std::string ZipDataFile(const std::string& name);

// Test inputs made from a seed: random, text-like and runs.
std::string RandomBytes(size_t size, unsigned seed);
std::string TextLike(size_t size, unsigned seed);

// The outcome of one SwapSize call.
struct SwapOutcome {
  int result = 0;           // SwapSize's result when nothing was thrown
  bool threw = false;       // a CZipException came out
  std::string exception;    // its text
  std::string stderr_text;  // what the engine wrote to standard error
};

SwapOutcome RunCZip(const std::string& source, const std::string& destination);
SwapOutcome RunCUnzip(const std::string& source, const std::string& destination);

}  // namespace testing_support

#endif  // FILEDIST_TESTS_SUPPORT_GZIP_ORACLE_H
