// The leveled log file. Exactly one Logger per process writes BuildVer.log
// in the startup directory, beside the host executable; code elsewhere writes
// a line by streaming into a short-lived LogError, LogWarning, LogInfo or
// LogDebug, which hands the line over when it goes out of scope:
//
//   LogError() << "Open Src File [" << path << "] Fail!";
//
// Nothing is written, and no file is made, until the host sets a level.
#ifndef FILEDIST_LOG_LOGGER_H
#define FILEDIST_LOG_LOGGER_H

#include <cstdio>
#include <sstream>
#include <string>

#include "log/release_events.h"
#include "platform/platform.h"
#include "platform/system_error.h"

// Streamed into a line after a failed system call, the error code goes with
// the line to a watching host (the filedist program prints the system's
// text); the log file's line stays as it is.
struct SystemReason {
  int code;
};

// The code of the call that just failed.
inline SystemReason LastSystemReason() { return SystemReason{plat::LastSystemError()}; }

class Logger {
 public:
  enum Severity { kError = 1, kWarning = 2, kInfo = 3, kDebug = 4 };

  // The one logger, made on first use (safely, from any thread) and
  // destroyed when the library is unloaded or the process ends.
  static Logger& Instance();

  virtual ~Logger();
  Logger(const Logger&) = delete;
  Logger& operator=(const Logger&) = delete;

  // 1 to 4 chooses the severities written and opens the file if it is not
  // open; 0 mutes an open file; any other value is taken as 0.
  void SetLevel(int level);
  int level() const { return level_; }

  // Opens the log file for appending unless it is open. A failed open is
  // retried by the next call, and logging resumes once one succeeds.
  void OpenLogFile();
  bool IsFileOpen() const { return file_ != nullptr; }

  // Back to the state of a new process: level 0 and no file open, so that
  // the next level opens BuildVer.log where the startup directory then is.
  // For tests that run the library as one host after another.
  void Reset();

  // BuildVer.log in the startup directory (platform/startup_directory.h).
  static std::string GetLogFilePath();

  // Appends one line of the given severity; no level check of its own.
  void Write(int type, const std::string& text);

  void Error(const std::string& text) { WriteIfEnabled(kError, text); }
  void Warning(const std::string& text) { WriteIfEnabled(kWarning, text); }
  void Info(const std::string& text) { WriteIfEnabled(kInfo, text); }
  void Debug(const std::string& text) { WriteIfEnabled(kDebug, text); }

  // True when lines of this severity reach the file.
  bool Enabled(int type) const { return level_ != 0 && level_ >= type; }

  // "YYYY-MM-DD HH:MM:SS:mmm" in local time.
  static std::string FormatTime();

 private:
  Logger();
  void WriteIfEnabled(int type, const std::string& text) {
    if (Enabled(type) && !text.empty()) Write(type, text);
  }

  int level_ = 0;
  plat::Mutex mutex_;
  FILE* file_ = nullptr;
};

// One log line of severity kType, written when the object is destroyed.
template <int kType>
class LogLine {
 public:
  LogLine() { stream_.imbue(std::locale::classic()); }
  virtual ~LogLine() {
    std::string text = stream_.str();
    Logger& logger = Logger::Instance();
    if (logger.Enabled(kType) && !text.empty()) logger.Write(kType, text);
    if (kType <= Logger::kWarning && !text.empty()) {
      if (ReleaseObserver* observer = GetReleaseObserver()) {
        observer->Problem(kType, text, plat::SystemErrorText(reason_));
      }
    }
  }
  LogLine(const LogLine&) = delete;
  LogLine& operator=(const LogLine&) = delete;

  template <typename T>
  LogLine& operator<<(const T& value) {
    stream_ << value;
    return *this;
  }
  LogLine& operator<<(const char* text) {
    if (text != nullptr) stream_ << text;
    return *this;
  }
  LogLine& operator<<(SystemReason reason) {
    reason_ = reason.code;
    return *this;
  }

 private:
  std::ostringstream stream_;
  int reason_ = 0;
};

using LogError = LogLine<Logger::kError>;
using LogWarning = LogLine<Logger::kWarning>;
using LogInfo = LogLine<Logger::kInfo>;
using LogDebug = LogLine<Logger::kDebug>;

#endif  // FILEDIST_LOG_LOGGER_H
