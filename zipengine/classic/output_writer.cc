#include "zipengine/classic/output_writer.h"

#include <cerrno>
#include <unistd.h>

#include "zipengine/classic/engine_errors.h"

namespace zipengine {

void WriteToDestination(Engine* engine, const unsigned char* data, size_t length) {
  while (length != 0) {
    // One call never asks for more than an int can report.
    unsigned piece = length > 0x40000000u ? 0x40000000u : static_cast<unsigned>(length);
    errno = 0;
    auto written = write(engine->destination_fd, data, piece);
    if (written <= 0) ReportWriteError(engine, errno != 0 ? errno : ENOSPC);
    data += written;
    length -= static_cast<size_t>(written);
  }
}

void EmptyDestination(Engine* engine) {
  if (ftruncate(engine->destination_fd, 0) == 0) return;
  // Devices and pipes cannot be cut and hold nothing old; only a file that
  // still has bytes is an error.
  int error_number = errno;
  if (lseek(engine->destination_fd, 0, SEEK_END) > 0) ReportWriteError(engine, error_number);
  lseek(engine->destination_fd, 0, SEEK_SET);
}

}  // namespace zipengine
