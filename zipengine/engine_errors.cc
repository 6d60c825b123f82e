#include "zipengine/engine_errors.h"

#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <unistd.h>

#include "zip_classes.h"
#include "zipengine/engine_state.h"

namespace zipengine {

const char* ProgramName() { return "filedist"; }

const char* SourceName() { return g_engine.source_name != nullptr ? g_engine.source_name : ""; }

void Message(const char* format, ...) {
  va_list args;
  va_start(args, format);
  std::vfprintf(stderr, format, args);
  va_end(args);
  std::fflush(stderr);
}

void AbortRun() {
  if (g_engine.source_fd >= 0) close(g_engine.source_fd);
  if (g_engine.destination_fd >= 0) close(g_engine.destination_fd);
  g_engine.source_fd = -1;
  g_engine.destination_fd = -1;
  throw CZipException("problem with zipping/unzipping operation : %d", 1);
}

void ReportReadError(int error_number) {
  Message("\n%s: ", ProgramName());
  if (error_number != 0) {
    Message("%s: %s\n", SourceName(), std::strerror(error_number));
  } else {
    Message("%s: unexpected end of file\n", SourceName());
  }
  AbortRun();
}

void ReportWriteError(int error_number) {
  Message("\n%s: %s\n", ProgramName(), std::strerror(error_number));
  AbortRun();
}

void ReportDataError(const char* text) {
  Message("\n%s: %s: %s\n", ProgramName(), SourceName(), text);
  AbortRun();
}

}  // namespace zipengine
