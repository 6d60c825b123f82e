#include "log/logger.h"

#include "common.h"
#include "platform/startup_directory.h"

namespace {

const char* PrefixOf(int type) {
  switch (type) {
    case Logger::kError:
      return "[ERROR]";
    case Logger::kWarning:
      return "[WARNING]";
    case Logger::kInfo:
      return "[INFO]";
    default:
      return "[DEBUG]";
  }
}

}  // namespace

Logger& Logger::Instance() {
  static Logger logger;
  return logger;
}

Logger::Logger() { plat::SetUserDefaultLocale(); }

Logger::~Logger() {
  if (file_ != nullptr) std::fclose(file_);
  file_ = nullptr;
  plat::SetClassicLocale();
}

void Logger::SetLevel(int level) {
  if (static_cast<unsigned>(level) > 4) {
    level_ = 0;
    return;
  }
  level_ = level;
  if (level != 0) OpenLogFile();
}

std::string Logger::GetLogFilePath() {
  std::string dir;
  if (!plat::GetStartupDirectory(&dir)) return "BuildVer.log";
  return dir + plat::kPathSeparator + "BuildVer.log";
}

void Logger::Reset() {
  plat::MutexLock lock(&mutex_);
  level_ = 0;
  if (file_ != nullptr) std::fclose(file_);
  file_ = nullptr;
}

void Logger::OpenLogFile() {
  if (file_ != nullptr) return;
  file_ = plat::OpenFile(GetLogFilePath().c_str(), "ab");
}

std::string Logger::FormatTime() {
  plat::LocalTime now = plat::GetLocalTimeNow();
  char buffer[64];
  std::snprintf(buffer, sizeof(buffer), "%04d-%02d-%02d %02d:%02d:%02d:%03d", now.year, now.month,
                now.day, now.hour, now.minute, now.second, now.millisecond);
  return buffer;
}

void Logger::Write(int type, const std::string& text) {
  plat::MutexLock lock(&mutex_);
  if (file_ == nullptr) return;
  try {
    std::string line = FormatTime();
    line += ' ';
    line += PrefixOf(type);
    line += " : ";
    // The file is a Windows text file: every line feed, those inside the
    // text included, is stored as carriage return and line feed.
    for (char c : text) {
      if (c == '\n') line.push_back('\r');
      line.push_back(c);
    }
    line += "\r\n";
    std::fwrite(line.data(), 1, line.size(), file_);
    std::fflush(file_);
  } catch (...) {
    // Logging never makes an operation fail.
  }
}

extern "C" COMMON_API void COMMON_CALL SetLogLevel(int level) {
  Logger::Instance().SetLevel(level);
}
