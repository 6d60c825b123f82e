#include "support/gzip_oracle.h"

#include <gtest/gtest.h>
#include <zlib.h>

#include <random>
#include <stdexcept>
#include <vector>

#include "zip_classes.h"

namespace testing_support {

namespace {

// Runs a prepared deflate stream over all of data and ends it.
std::string DeflateWhole(z_stream* stream, const std::string& data) {
  // Room for the header fields a gzip writer may add, too.
  std::string out(deflateBound(stream, static_cast<uLong>(data.size())) + 1024, '\0');
  stream->next_in = reinterpret_cast<Bytef*>(const_cast<char*>(data.data()));
  stream->avail_in = static_cast<uInt>(data.size());
  stream->next_out = reinterpret_cast<Bytef*>(&out[0]);
  stream->avail_out = static_cast<uInt>(out.size());
  int result = deflate(stream, Z_FINISH);
  out.resize(stream->total_out);
  deflateEnd(stream);
  if (result != Z_STREAM_END) throw std::runtime_error("deflate");
  return out;
}

}  // namespace

std::string ZlibGzip(const std::string& data, const ZlibGzipOptions& options) {
  z_stream stream{};
  if (deflateInit2(&stream, options.level, Z_DEFLATED, 15 + 16, 8, Z_DEFAULT_STRATEGY) != Z_OK) {
    throw std::runtime_error("deflateInit2");
  }
  gz_header header{};
  std::vector<Bytef> extra(options.extra.begin(), options.extra.end());
  header.text = options.text_flag ? 1 : 0;
  header.os = 3;
  header.name = reinterpret_cast<Bytef*>(const_cast<char*>(options.name));
  header.comment = reinterpret_cast<Bytef*>(const_cast<char*>(options.comment));
  header.extra = extra.empty() ? Z_NULL : extra.data();
  header.extra_len = static_cast<uInt>(extra.size());
  header.hcrc = options.header_crc ? 1 : 0;
  deflateSetHeader(&stream, &header);
  return DeflateWhole(&stream, data);
}

std::string ZlibDeflateRaw(const std::string& data, int level) {
  z_stream stream{};
  if (deflateInit2(&stream, level, Z_DEFLATED, -15, 8, Z_DEFAULT_STRATEGY) != Z_OK) {
    throw std::runtime_error("deflateInit2");
  }
  return DeflateWhole(&stream, data);
}

bool ZlibGunzip(const std::string& member, std::string* data) {
  z_stream stream{};
  if (inflateInit2(&stream, 15 + 16) != Z_OK) return false;
  stream.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(member.data()));
  stream.avail_in = static_cast<uInt>(member.size());
  data->clear();
  char buffer[65536];
  int status;
  do {
    stream.next_out = reinterpret_cast<Bytef*>(buffer);
    stream.avail_out = sizeof buffer;
    status = inflate(&stream, Z_NO_FLUSH);
    if (status != Z_OK && status != Z_STREAM_END) break;
    data->append(buffer, sizeof buffer - stream.avail_out);
  } while (status != Z_STREAM_END);
  // The member must be used up exactly: nothing may follow the trailer.
  bool whole = status == Z_STREAM_END && stream.avail_in == 0;
  inflateEnd(&stream);
  return whole;
}

std::string ZipDataFile(const std::string& name) {
  std::string source = __FILE__;  // .../tests/support/gzip_oracle.cc
  size_t cut = source.find_last_of("/\\");
  cut = source.find_last_of("/\\", cut - 1);
  return source.substr(0, cut) + "/data/zip/" + name;
}

std::string RandomBytes(size_t size, unsigned seed) {
  std::mt19937 random(seed);
  std::string bytes(size, '\0');
  for (char& c : bytes) c = static_cast<char>(random());
  return bytes;
}

std::string TextLike(size_t size, unsigned seed) {
  static const char* const kWords[] = {
      "release",   "client",     "version", "file",   "list", "the", "of", "patch",
      "directory", "compressed", "key",     "update", "and",  "a",   "to", "window"};
  std::mt19937 random(seed);
  std::string text;
  while (text.size() < size) {
    text += kWords[random() % 16];
    text += random() % 11 == 0 ? ".\r\n" : " ";
  }
  text.resize(size);
  return text;
}

namespace {

SwapOutcome RunSwap(CMamaZip& zip, const std::string& destination) {
  SwapOutcome outcome;
  ::testing::internal::CaptureStderr();
  try {
    outcome.result = zip.SwapSize(destination.c_str());
  } catch (const CZipException& error) {
    outcome.threw = true;
    outcome.exception = error.GetString();
  }
  outcome.stderr_text = ::testing::internal::GetCapturedStderr();
  return outcome;
}

}  // namespace

SwapOutcome RunCZip(const std::string& source, const std::string& destination) {
  CZip zip(source.c_str());
  return RunSwap(zip, destination);
}

SwapOutcome RunCUnzip(const std::string& source, const std::string& destination) {
  CUnzip unzip(source.c_str());
  return RunSwap(unzip, destination);
}

}  // namespace testing_support
