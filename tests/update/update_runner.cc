// Runs the update engine on an install folder from a release folder, for the
// crash tests: with --crash-at N the process ends at the Nth change the
// engine is about to make to the disk, as abruptly as a kill -9.
//
// With --full-disk-at N every write from the Nth change on fails as on a
// full disk (where the system can limit file sizes; exit 87 where not).
// With --power-cut-at N the runner, at the Nth change, first drops what a
// power cut would lose of the files written so far (support/power_cut_layer.h
// tells what, for the file system of this build), then ends as at a crash.
// With --hold LIBRARY the runner first loads that copy of the project's
// shared library, so that the update meets a library in use.
//
// With --trust KEY releases must be signed with that public key; --jobs N
// stages and places files with N threads (1 by default).
//
//   update_runner INSTALL RELEASE [--prune] [--crash-at N] [--full-disk-at N]
//                 [--power-cut-at N] [--hold LIBRARY] [--trust KEY] [--jobs N]
//
// Prints "points: K" (the changes a whole run made) at the end; exits with
// the engine's status, or 86 at the crash.
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <mutex>
#include <string>

#include "holder/library_hold.h"
#include "support/file_size_limit.h"
#include "support/power_cut_layer.h"
#include "update/fault_point.h"
#include "update/folder_fetcher.h"
#include "update/update_engine.h"

namespace {

int g_crash_at = 0;
int g_full_disk_at = 0;
int g_power_cut_at = 0;
PowerCutLayer* g_layer = nullptr;

// Files are staged and placed by several threads: the one that reaches the
// point keeps the others at their next one while it cuts the power, so that
// no file call runs during the cut.
std::mutex g_points;

void CrashHere(int point) {
  std::lock_guard<std::mutex> hold(g_points);
  if (point == g_crash_at) std::_Exit(86);
  if (point == g_power_cut_at && g_layer != nullptr) {
    int changed = g_layer->Cut();
    std::printf("power cut: %d files lost data\n", changed);
    std::fflush(stdout);
    std::_Exit(86);
  }
  if (point == g_full_disk_at && !LimitFileSize(0)) std::_Exit(87);
}

class PrintingReporter : public update::UpdateReporter {
 public:
  void Note(const std::string& line) override { std::printf("%s\n", line.c_str()); }
  void Problem(const std::string& line) override { std::printf("problem: %s\n", line.c_str()); }
};

}  // namespace

int main(int argc, char** argv) {
  if (argc < 3) {
    std::fprintf(stderr, "usage: update_runner INSTALL RELEASE [--prune] [--crash-at N]\n");
    return 2;
  }
  update::UpdateOptions options;
  options.install_dir = argv[1];
  for (int i = 3; i < argc; ++i) {
    if (std::strcmp(argv[i], "--prune") == 0) {
      options.prune = true;
    } else if (std::strcmp(argv[i], "--crash-at") == 0 && i + 1 < argc) {
      g_crash_at = std::atoi(argv[++i]);
    } else if (std::strcmp(argv[i], "--full-disk-at") == 0 && i + 1 < argc) {
      g_full_disk_at = std::atoi(argv[++i]);
    } else if (std::strcmp(argv[i], "--power-cut-at") == 0 && i + 1 < argc) {
      g_power_cut_at = std::atoi(argv[++i]);
    } else if (std::strcmp(argv[i], "--jobs") == 0 && i + 1 < argc) {
      options.jobs = std::atoi(argv[++i]);
    } else if (std::strcmp(argv[i], "--trust") == 0 && i + 1 < argc) {
      options.trusted_key = argv[++i];
    } else if (std::strcmp(argv[i], "--hold") == 0 && i + 1 < argc) {
      if (LoadLibraryExport(argv[++i], "MakeDirTree") == nullptr) return 2;
    } else {
      return 2;
    }
  }
  std::unique_ptr<PowerCutLayer> layer;
  if (g_power_cut_at > 0) {
    layer.reset(new PowerCutLayer(PowerCutLayer::OfThisBuild(), options.install_dir));
    g_layer = layer.get();
  }
  update::SetFaultHook(CrashHere);
  testing_support::FolderFetcher fetcher(argv[2]);
  PrintingReporter reporter;
  int status = update::RunUpdate(options, &fetcher, &reporter);
  std::printf("points: %d\n", update::FaultPointsPassed());
  return status;
}
