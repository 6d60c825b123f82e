// What `filedist build` shows of a release build: on a terminal one progress
// line, elsewhere (or with --verbose) the library's own lines per file;
// every error and warning on standard error; a summary at the end.
#ifndef FILEDIST_CLI_BUILD_REPORT_H
#define FILEDIST_CLI_BUILD_REPORT_H

#include <chrono>
#include <cstdint>
#include <string>

#include "interface/build_hooks.h"

class BuildReport : public ReleaseObserver {
 public:
  // progress: draw one line on standard error instead of a line per file.
  explicit BuildReport(bool progress);

  void Problem(int severity, const std::string& text, const std::string& reason) override;
  void FileExcluded(const std::string& lowerName, int lists) override;
  void FileKeyed(const std::string& path, uint64_t size, const std::string& key) override;
  void FileCompressed(const std::string& listedPath, uint64_t plainSize, int32_t compressedSize,
                      bool fromEarlier) override;
  void PatchStarted(const std::string& patchDir) override;

  // Clears the progress line.
  void Finish();
  // The summary of a successful build, ending with the patch directory.
  void PrintSummary(const std::string& patchDir) const;

  int errors() const { return errors_; }

 private:
  void Draw(bool force);

  bool progress_;
  std::chrono::steady_clock::time_point start_;
  std::chrono::steady_clock::time_point drawn_at_;
  int errors_ = 0;
  int excluded_ = 0;
  int keyed_ = 0;
  uint64_t keyed_bytes_ = 0;
  int released_ = 0;
  int from_earlier_ = 0;
  uint64_t plain_bytes_ = 0;
  uint64_t compressed_bytes_ = 0;
  bool drawn_ = false;
};

#endif  // FILEDIST_CLI_BUILD_REPORT_H
