#include "zipengine/gzip_decompressor.h"

#include <cstdint>
#include <cstring>

#include "zipengine/engine_errors.h"
#include "zipengine/engine_state.h"
#include "zipengine/gzip_header.h"
#include "zipengine/inflate_decoder.h"
#include "zipengine/input_buffer.h"
#include "zipengine/output_writer.h"
#include "zipengine/window_output.h"

namespace zipengine {
namespace {

void ReadCheckBytes(unsigned char* bytes, unsigned count) {
  for (unsigned i = 0; i < count; ++i) bytes[i] = static_cast<unsigned char>(NextInputByte());
}

void CopyStoredEntry(uint32_t length) {
  while (length-- != 0) {
    g_engine.window[g_window.fill++] = static_cast<unsigned char>(NextInputByte());
    if (g_window.fill == kWindowSize) {
      FlushWindow();
      StartWindowOutput();
    }
  }
  FlushWindow();
}

}  // namespace

int DecompressRun(int source_fd, int destination_fd) {
  g_engine.source_fd = source_fd;
  g_engine.destination_fd = destination_fd;
  g_engine.crc = 0xffffffffu;
  StartWindowOutput();
  uint32_t expected_crc = 0;
  uint32_t expected_length = 0;
  // The local header still lies at the start of the input buffer.
  const unsigned char* header = g_engine.input;
  if (g_engine.zip_entry && !g_engine.sizes_in_descriptor) {
    expected_crc = LittleEndian32(header + kZipCrcOffset);
    expected_length = LittleEndian32(header + kZipSizeOffset);
  }

  if (g_engine.method == 8) {
    EmptyDestination();
    if (InflateStream() != 0) ReportDataError("invalid compressed data--format violated");
  } else if (g_engine.zip_entry && g_engine.method == 0) {
    uint32_t size = LittleEndian32(header + kZipSizeOffset);
    uint32_t compressed_size = LittleEndian32(header + kZipCompressedSizeOffset);
    if (size != compressed_size) {
      Message("len %ld, siz %ld\n", static_cast<long>(size), static_cast<long>(compressed_size));
      ReportDataError("invalid compressed data--length mismatch");
    }
    EmptyDestination();
    CopyStoredEntry(size);
  } else {
    ReportDataError("internal error, invalid method");
  }

  unsigned char check[16];
  if (!g_engine.zip_entry) {
    ReadCheckBytes(check, 8);
    expected_crc = LittleEndian32(check);
    expected_length = LittleEndian32(check + 4);
  } else if (g_engine.sizes_in_descriptor) {
    ReadCheckBytes(check, 16);
    expected_crc = LittleEndian32(check + 4);
    expected_length = LittleEndian32(check + 12);
  }
  if (expected_crc != ~g_engine.crc) ReportDataError("invalid compressed data--crc error");
  if (expected_length != g_engine.bytes_written) ReportDataError("invalid compressed data--length error");

  if (g_engine.zip_entry) {
    bool another_entry = InputAvailable() > 4 &&
                         LittleEndian32(g_engine.input + g_engine.input_position) == kZipLocalSignature;
    g_engine.zip_entry = 0;
    g_engine.sizes_in_descriptor = 0;
    if (another_entry) {
      Message("%s: %s has more than one entry -- unchanged\n", ProgramName(), SourceName());
      return 1;
    }
  }
  return 0;
}

}  // namespace zipengine
