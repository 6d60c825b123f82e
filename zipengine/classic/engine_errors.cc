#include "zipengine/classic/engine_errors.h"

#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <unistd.h>

#include "zip_classes.h"
#include "zipengine/classic/engine.h"

namespace zipengine {

const char* ProgramName() { return "filedist"; }

const char* SourceName(const Engine* engine) { return engine->source_name != nullptr ? engine->source_name : ""; }

void Message(const char* format, ...) {
  va_list args;
  va_start(args, format);
  std::vfprintf(stderr, format, args);
  va_end(args);
  std::fflush(stderr);
}

void AbortRun(Engine* engine) {
  if (engine->source_fd >= 0) close(engine->source_fd);
  if (engine->destination_fd >= 0) close(engine->destination_fd);
  engine->source_fd = -1;
  engine->destination_fd = -1;
  throw CZipException("problem with zipping/unzipping operation : %d", 1);
}

void ReportReadError(Engine* engine, int error_number) {
  Message("\n%s: ", ProgramName());
  if (error_number != 0) {
    Message("%s: %s\n", SourceName(engine), std::strerror(error_number));
  } else {
    Message("%s: unexpected end of file\n", SourceName(engine));
  }
  AbortRun(engine);
}

void ReportWriteError(Engine* engine, int error_number) {
  Message("\n%s: %s\n", ProgramName(), std::strerror(error_number));
  AbortRun(engine);
}

void ReportDataError(Engine* engine, const char* text) {
  Message("\n%s: %s: %s\n", ProgramName(), SourceName(engine), text);
  AbortRun(engine);
}

}  // namespace zipengine
