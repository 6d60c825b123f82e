#include "zipengine/classic/gzip_decompressor.h"

#include <cstdint>
#include <cstring>

#include "zipengine/classic/engine_errors.h"
#include "zipengine/classic/gzip_header.h"
#include "zipengine/classic/inflate_decoder.h"
#include "zipengine/classic/input_buffer.h"
#include "zipengine/classic/output_writer.h"
#include "zipengine/classic/window_output.h"

namespace zipengine {
namespace {

void ReadCheckBytes(Engine* engine, unsigned char* bytes, unsigned count) {
  for (unsigned i = 0; i < count; ++i) bytes[i] = static_cast<unsigned char>(NextInputByte(engine));
}

void CopyStoredEntry(Engine* engine, uint32_t length) {
  WindowOutput& w = engine->decoded;
  while (length-- != 0) {
    engine->window[w.fill++] = static_cast<unsigned char>(NextInputByte(engine));
    if (w.fill == kWindowSize) {
      FlushWindow(engine);
      StartWindowOutput(engine);
    }
  }
  FlushWindow(engine);
}

}  // namespace

int DecompressRun(Engine* engine, const RunFiles& files) {
  BeginRun(engine, files);
  if (DetectMethod(engine) < 0) return -1;
  uint32_t expected_crc = 0;
  uint32_t expected_length = 0;
  // The local header still lies at the start of the input buffer.
  const unsigned char* header = engine->input;
  if (engine->zip_entry && !engine->sizes_in_descriptor) {
    expected_crc = LittleEndian32(header + kZipCrcOffset);
    expected_length = LittleEndian32(header + kZipSizeOffset);
  }

  if (engine->method == 8) {
    EmptyDestination(engine);
    if (InflateStream(engine) != 0) ReportDataError(engine, "invalid compressed data--format violated");
  } else if (engine->zip_entry && engine->method == 0) {
    uint32_t size = LittleEndian32(header + kZipSizeOffset);
    uint32_t compressed_size = LittleEndian32(header + kZipCompressedSizeOffset);
    if (size != compressed_size) {
      Message("len %ld, siz %ld\n", static_cast<long>(size), static_cast<long>(compressed_size));
      ReportDataError(engine, "invalid compressed data--length mismatch");
    }
    EmptyDestination(engine);
    CopyStoredEntry(engine, size);
  } else {
    ReportDataError(engine, "internal error, invalid method");
  }

  unsigned char check[16];
  if (!engine->zip_entry) {
    ReadCheckBytes(engine, check, 8);
    expected_crc = LittleEndian32(check);
    expected_length = LittleEndian32(check + 4);
  } else if (engine->sizes_in_descriptor) {
    ReadCheckBytes(engine, check, 16);
    expected_crc = LittleEndian32(check + 4);
    expected_length = LittleEndian32(check + 12);
  }
  if (expected_crc != ~engine->crc) ReportDataError(engine, "invalid compressed data--crc error");
  if (expected_length != engine->bytes_written) ReportDataError(engine, "invalid compressed data--length error");

  if (engine->zip_entry) {
    bool another_entry =
        InputAvailable(engine) > 4 && LittleEndian32(engine->input + engine->input_position) == kZipLocalSignature;
    engine->zip_entry = 0;
    engine->sizes_in_descriptor = 0;
    if (another_entry) {
      Message("%s: %s has more than one entry -- unchanged\n", ProgramName(), SourceName(engine));
      return -1;
    }
  }
  return 0;
}

}  // namespace zipengine
