// How the engine reports: messages on standard error, and the abort step
// that ends a run it cannot continue.
#ifndef FILEDIST_ZIPENGINE_CLASSIC_ENGINE_ERRORS_H
#define FILEDIST_ZIPENGINE_CLASSIC_ENGINE_ERRORS_H

namespace zipengine {

struct Engine;

// The first field of the messages: who is speaking. The engine runs inside
// whatever program loaded the library, so it names the system rather than a
// module file that differs between Windows and Linux.
const char* ProgramName();

// The second field of most messages: the file the run reads, as the caller
// named it.
const char* SourceName(const Engine* engine);

// printf to standard error.
void Message(const char* format, ...)
#if defined(__GNUC__)
    __attribute__((format(printf, 1, 2)))
#endif
    ;

// Closes both descriptors of the run and throws CZipException. The
// destination keeps what was written.
[[noreturn]] void AbortRun(Engine* engine);

// A read that failed or found the end of input where data was needed.
[[noreturn]] void ReportReadError(Engine* engine, int error_number);
// A write to the destination that failed.
[[noreturn]] void ReportWriteError(Engine* engine, int error_number);
// Corrupt or unsupported data found while decompressing.
[[noreturn]] void ReportDataError(Engine* engine, const char* text);

}  // namespace zipengine

#endif  // FILEDIST_ZIPENGINE_CLASSIC_ENGINE_ERRORS_H
