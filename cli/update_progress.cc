#include "cli/update_progress.h"

#include <cstdio>

#include "util/size_text.h"

namespace {

constexpr int kBarWidth = 30;
constexpr size_t kNameWidth = 28;

}  // namespace

UpdateProgress::UpdateProgress(bool terminal, bool escapes, uint64_t total_bytes, int total_files)
    : terminal_(terminal),
      line_(stderr, escapes),
      total_bytes_(total_bytes),
      total_files_(total_files) {}

void UpdateProgress::StartFile(const std::string& path) {
  current_ = path;
  file_bytes_ = 0;
  Draw(true);
}

void UpdateProgress::FileBytes(uint64_t received) {
  file_bytes_ = received;
  Draw(false);
}

void UpdateProgress::FinishFile(const std::string& path, uint64_t size, bool placed) {
  done_bytes_ += size;
  file_bytes_ = 0;
  ++done_files_;
  if (terminal_) {
    Draw(true);
  } else if (placed) {
    std::printf("[%d/%d] %s (%s)\n", done_files_, total_files_, path.c_str(),
                util::FormatSize(size).c_str());
    std::fflush(stdout);
  }
}

void UpdateProgress::AddTotal(uint64_t bytes) {
  total_bytes_ += bytes;
  Draw(true);
}

void UpdateProgress::Message(const std::string& text) {
  if (terminal_) line_.Clear();
  std::fprintf(stderr, "%s\n", text.c_str());
  if (terminal_) Draw(true);
}

void UpdateProgress::Finish() {
  if (terminal_) line_.Clear();
}

void UpdateProgress::Draw(bool force) {
  if (!terminal_) return;
  // A file's own count may run past the list's size (a server that sends
  // more); the bar never does.
  uint64_t done = done_bytes_ + file_bytes_;
  if (done > total_bytes_) done = total_bytes_;
  int permille = total_bytes_ == 0 ? 1000 : static_cast<int>(done * 1000 / total_bytes_);
  if (!force && permille == drawn_permille_) return;
  drawn_permille_ = permille;
  int filled = permille * kBarWidth / 1000;
  std::string bar(static_cast<size_t>(filled), '#');
  bar.append(static_cast<size_t>(kBarWidth - filled), '-');
  std::string name = current_;
  if (name.size() > kNameWidth) name = "..." + name.substr(name.size() - (kNameWidth - 3));
  char numbers[128];
  std::snprintf(numbers, sizeof(numbers), "] %3d%%  %s of %s  %d/%d files  ", permille / 10,
                util::FormatSize(done).c_str(), util::FormatSize(total_bytes_).c_str(), done_files_,
                total_files_);
  line_.Show("[" + bar + numbers + name);
}
