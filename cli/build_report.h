// What `filedist build` shows of a release build: on a terminal one progress
// line, elsewhere (or with --verbose) the library's own lines per file;
// every error and warning on standard error; a summary at the end.
#ifndef FILEDIST_CLI_BUILD_REPORT_H
#define FILEDIST_CLI_BUILD_REPORT_H

#include <chrono>
#include <cstdint>
#include <string>
#include <vector>

#include "cli/progress_line.h"
#include "interface/build_hooks.h"

// What a build's summary counts.
struct BuildSummary {
  int released = 0;    // files in the release
  int excluded = 0;    // left out by Filters.ini
  int unchanged = 0;   // compressed files taken from the earlier release
  uint64_t bytes = 0;  // the released files' sizes
  uint64_t compressed_bytes = 0;
  int patches = 0;             // binary patches kept
  uint64_t patch_bytes = 0;    // their sizes
  uint64_t patched_bytes = 0;  // the compressed sizes of the files they make, once per patch
  double seconds = 0;
};

class BuildReport : public ReleaseObserver {
 public:
  enum class Display {
    kLines,     // the library's lines per file on standard output
    kProgress,  // one line on standard error instead
    kNone,      // neither: standard output is left to a JSON document
  };
  // escapes: the terminal interprets escape sequences (see ProgressLine).
  BuildReport(Display display, bool escapes);

  void Problem(int severity, const std::string& text, const std::string& reason) override;
  void FileExcluded(const std::string& lowerName, int lists) override;
  void FileKeyed(const std::string& path, uint64_t size, const std::string& key) override;
  void FileCompressed(const std::string& listedPath, uint64_t plainSize, int32_t compressedSize,
                      bool fromEarlier) override;
  void PatchStarted(const std::string& patchDir) override;
  void PatchMade(const std::string& listedPath, const std::string& oldKey, uint64_t patchSize,
                 uint64_t compressedSize) override;

  // Clears the progress line.
  void Finish();
  // The summary of a successful build, ending with the patch directory.
  void PrintSummary(const std::string& patchDir) const;

  BuildSummary Summary() const;

  int errors() const { return errors_; }
  // Every error and warning line, as standard error shows it without
  // "filedist: ".
  const std::vector<std::string>& problems() const { return problems_; }

 private:
  void Draw(bool force);
  // The line of the patch phase: the patches made so far.
  void DrawPatching();

  Display display_;
  bool progress_;
  ProgressLine line_;
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
  int patches_ = 0;
  uint64_t patch_bytes_ = 0;
  uint64_t patched_bytes_ = 0;
  bool drawn_ = false;
  std::vector<std::string> problems_;
};

#endif  // FILEDIST_CLI_BUILD_REPORT_H
