#include "zipengine/output_writer.h"

#include <cerrno>
#include <unistd.h>

#include "zipengine/engine_errors.h"
#include "zipengine/engine_state.h"

namespace zipengine {

void WriteToDestination(const unsigned char* data, size_t length) {
  while (length != 0) {
    // One call never asks for more than an int can report.
    unsigned piece = length > 0x40000000u ? 0x40000000u : static_cast<unsigned>(length);
    errno = 0;
    auto written = write(g_engine.destination_fd, data, piece);
    if (written <= 0) ReportWriteError(errno != 0 ? errno : ENOSPC);
    data += written;
    length -= static_cast<size_t>(written);
  }
}

void EmptyDestination() {
  if (ftruncate(g_engine.destination_fd, 0) == 0) return;
  // Devices and pipes cannot be cut and hold nothing old; only a file that
  // still has bytes is an error.
  int error_number = errno;
  if (lseek(g_engine.destination_fd, 0, SEEK_END) > 0) ReportWriteError(error_number);
  lseek(g_engine.destination_fd, 0, SEEK_SET);
}

}  // namespace zipengine
