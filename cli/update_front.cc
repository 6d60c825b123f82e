#include "cli/update_front.h"

#include <cstdio>

#include "cli/cli_platform.h"

void ConsoleReporter::Note(const std::string& line) {
  if (!quiet_) std::printf("%s\n", line.c_str());
}

void ConsoleReporter::Problem(const std::string& line) {
  if (progress_) {
    progress_->Message("filedist: " + line);
  } else {
    std::fflush(stdout);
    std::fprintf(stderr, "filedist: %s\n", line.c_str());
  }
}

void ConsoleReporter::BeginFetch(uint64_t bytes, int files) {
  if (quiet_) return;
  bool terminal = IsTerminal(stderr);
  progress_.reset(
      new UpdateProgress(terminal, terminal && TerminalTakesEscapes(stderr), bytes, files));
}

void ConsoleReporter::StartFile(const std::string& path) {
  if (progress_) progress_->StartFile(path);
}

void ConsoleReporter::GrowFetch(uint64_t bytes) {
  if (progress_) progress_->AddTotal(bytes);
}

void ConsoleReporter::FileBytes(uint64_t received) {
  if (progress_) progress_->FileBytes(received);
}

void ConsoleReporter::FinishFile(const std::string& path, uint64_t size, bool ok) {
  if (progress_) progress_->FinishFile(path, size, ok);
}

void ConsoleReporter::EndFetch() {
  if (progress_) progress_->Finish();
  progress_.reset();
}

void JsonReporter::Problem(const std::string& line) {
  std::fprintf(stderr, "filedist: %s\n", line.c_str());
  problems_.push_back(line);
}
