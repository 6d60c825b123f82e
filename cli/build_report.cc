#include "cli/build_report.h"

#include <cstdio>

#include "util/size_text.h"

namespace {

// Redrawing more often than this costs more than it shows.
constexpr auto kRedrawInterval = std::chrono::milliseconds(100);

// The log's line names the stage it failed in (" in [CFileVersion::...]"),
// which says something to whoever reads the log beside the code, nothing to
// the user at the terminal: the line there ends with what failed and why.
std::string WithoutStageName(const std::string& text) {
  const size_t open = text.rfind(" in [");
  if (open == std::string::npos || text.back() != ']') return text;
  const std::string stage = text.substr(open + 5, text.size() - open - 6);
  if (stage.empty() ||
      stage.find_first_not_of("ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz:") !=
          std::string::npos) {
    return text;
  }
  return text.substr(0, open);
}

}  // namespace

BuildReport::BuildReport(Display display, bool escapes)
    : display_(display),
      progress_(display == Display::kProgress),
      line_(stderr, escapes),
      start_(std::chrono::steady_clock::now()) {}

void BuildReport::Problem(int severity, const std::string& text, const std::string& reason) {
  if (drawn_) line_.Clear();
  if (severity == 1) ++errors_;
  std::string line = std::string(severity == 1 ? "error" : "warning") + ": " +
                     WithoutStageName(text) + (reason.empty() ? "" : ": ") + reason;
  problems_.push_back(line);
  std::fprintf(stderr, "filedist: %s\n", line.c_str());
  std::fflush(stderr);
  if (drawn_) Draw(true);
}

void BuildReport::FileExcluded(const std::string& lowerName, int lists) {
  ++excluded_;
  if (display_ != Display::kLines) return;
  // The library's own line, "文件 [%s] 根据Filters.ini被过滤" in code page 936,
  // once for every filter list that matched.
  for (int i = 0; i < lists; ++i) {
    std::printf(
        "\xCE\xC4\xBC\xFE [%s] \xB8\xF9\xBE\xDD"
        "Filters.ini"
        "\xB1\xBB\xB9\xFD\xC2\xCB\n",
        lowerName.c_str());
  }
}

void BuildReport::FileKeyed(const std::string& path, uint64_t size, const std::string& key) {
  ++keyed_;
  keyed_bytes_ += size;
  if (progress_) {
    Draw(false);
  } else if (display_ == Display::kLines) {
    std::printf("MD5 (%s) = %s\n", path.c_str(), key.c_str());
  }
}

void BuildReport::FileCompressed(const std::string& listedPath, uint64_t plainSize,
                                 int32_t compressedSize, bool fromEarlier) {
  ++released_;
  if (fromEarlier) ++from_earlier_;
  plain_bytes_ += plainSize;
  compressed_bytes_ += static_cast<uint32_t>(compressedSize);
  if (progress_) {
    Draw(released_ == keyed_);
  } else if (display_ == Display::kLines) {
    std::printf("Compress (%s) = %d\n", listedPath.c_str(), compressedSize);
  }
}

void BuildReport::PatchStarted(const std::string& patchDir) {
  if (progress_) {
    // The files are compressed; the patch directory and the binary patches
    // from earlier releases come next and may take long: the line says so
    // rather than stand at 100%.
    DrawPatching();
  } else if (display_ == Display::kLines) {
    std::printf("Generate Release Patch (%s)\n", patchDir.c_str());
  }
}

void BuildReport::DrawPatching() {
  line_.Show("patching: " + std::to_string(patches_) + " patches, " +
             util::FormatSize(patch_bytes_));
  drawn_ = true;
}

void BuildReport::PatchMade(const std::string& listedPath, const std::string& oldKey,
                            uint64_t patchSize, uint64_t compressedSize) {
  ++patches_;
  patch_bytes_ += patchSize;
  patched_bytes_ += compressedSize;
  if (progress_) {
    DrawPatching();
  } else if (display_ == Display::kLines) {
    std::printf("Patch (%s) from %s = %llu\n", listedPath.c_str(), oldKey.c_str(),
                static_cast<unsigned long long>(patchSize));
  }
}

void BuildReport::Draw(bool force) {
  if (!progress_) return;
  auto now = std::chrono::steady_clock::now();
  if (!force && drawn_ && now - drawn_at_ < kRedrawInterval) return;
  drawn_at_ = now;
  drawn_ = true;
  char text[160];
  if (released_ == 0) {
    std::snprintf(text, sizeof(text), "keying: %d files, %s", keyed_,
                  util::FormatSize(keyed_bytes_).c_str());
  } else {
    int percent = keyed_ == 0 ? 100 : static_cast<int>(100LL * released_ / keyed_);
    std::snprintf(text, sizeof(text), "compressing: %d/%d files (%d%%), %s of %s", released_,
                  keyed_, percent, util::FormatSize(plain_bytes_).c_str(),
                  util::FormatSize(keyed_bytes_).c_str());
  }
  line_.Show(text);
}

void BuildReport::Finish() {
  if (!drawn_) return;
  line_.Clear();
  drawn_ = false;
}

BuildSummary BuildReport::Summary() const {
  BuildSummary summary;
  summary.released = released_;
  summary.excluded = excluded_;
  summary.unchanged = from_earlier_;
  summary.bytes = plain_bytes_;
  summary.compressed_bytes = compressed_bytes_;
  summary.patches = patches_;
  summary.patch_bytes = patch_bytes_;
  summary.patched_bytes = patched_bytes_;
  summary.seconds =
      std::chrono::duration<double>(std::chrono::steady_clock::now() - start_).count();
  return summary;
}

void BuildReport::PrintSummary(const std::string& patchDir) const {
  BuildSummary summary = Summary();
  double percent = summary.bytes == 0 ? 100.0 : 100.0 * summary.compressed_bytes / summary.bytes;
  if (summary.patches > 0) {
    std::printf("made %d patches from earlier releases: %llu bytes in place of %llu compressed\n",
                summary.patches, static_cast<unsigned long long>(summary.patch_bytes),
                static_cast<unsigned long long>(summary.patched_bytes));
  }
  std::printf(
      "released %d files (%d left out by Filters.ini, %d unchanged since the last "
      "release): %llu bytes, %llu compressed (%.1f%%), in %.2f s, into\n%s\n",
      summary.released, summary.excluded, summary.unchanged,
      static_cast<unsigned long long>(summary.bytes),
      static_cast<unsigned long long>(summary.compressed_bytes), percent, summary.seconds,
      patchDir.c_str());
}
