#include "update/fetch_pool.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <map>
#include <mutex>
#include <thread>

#include "util/thread_start.h"

namespace update {

namespace {

// A fetcher whose transfers stop as soon as the host cancels: the sink
// refuses the next bytes, so a transfer under way is cut off as by a lost
// connection and keeps what it has for the next run.
class StoppableFetcher : public ReleaseFetcher {
 public:
  StoppableFetcher(ReleaseFetcher* inner, const std::atomic<bool>* stop)
      : inner_(inner), stop_(stop) {}
  std::string Location() const override { return inner_->Location(); }
  bool Fetch(const std::vector<std::string>& parts, const FetchSink& sink,
             std::string* error) override {
    return FetchFrom(parts, 0, sink, error);
  }
  bool FetchFrom(const std::vector<std::string>& parts, uint64_t offset, const FetchSink& sink,
                 std::string* error) override {
    FetchSink stoppable = [&](const char* data, size_t size) {
      return !stop_->load() && sink(data, size);
    };
    if (stop_->load()) {
      *error = "cancelled";
      return false;
    }
    // A transfer that ended whole before the cancel was seen is kept as it
    // is: cutting it off then would only cost the next run a request.
    bool fetched = offset > 0 ? inner_->FetchFrom(parts, offset, stoppable, error)
                              : inner_->Fetch(parts, stoppable, error);
    if (!fetched && stop_->load()) *error = "cancelled";
    return fetched;
  }
  uint64_t BytesReceived() const override { return inner_->BytesReceived(); }

 private:
  ReleaseFetcher* inner_;
  const std::atomic<bool>* stop_;
};

// How often a watch hears of the progress.
constexpr std::chrono::milliseconds kWatchStep(100);

}  // namespace

int FetchIntoStaging(const UpdatePlan& plan, int jobs_wanted, Staging* staging,
                     ReleaseFetcher* fetcher, UpdateReporter* reporter, const StagedCheck& check,
                     std::vector<std::string>* failed, const FetchWatch& watch, bool* cancelled,
                     const PatchedFiles& patches) {
  DeltaFetch* delta = patches.delta;
  // What is to come over: patches in place of the files they stand for.
  // The watch is told done and total in this one unit, so that its last
  // report has done == total: a file counts its patch's bytes where it is
  // the file its key's patch starts from, its compressed size otherwise.
  // A patch that fails brings its whole file, and the total grows by the
  // difference.
  uint64_t total_bytes = delta == nullptr
                             ? plan.fetch_bytes
                             : plan.fetch_bytes - delta->whole_bytes() + delta->patch_bytes();
  auto counted = [](const PlannedFile& file, const ChosenPatch* patch) {
    return patch != nullptr && patch->file == &file ? patch->entry.patchSize
                                                    : ListedSize(file.record);
  };
  reporter->BeginFetch(total_bytes, static_cast<int>(plan.fetch.size()));
  // Files with one key are fetched once, for every path that lists it.
  struct KeyJob {
    std::vector<const PlannedFile*> files;
    uint64_t received = 0;
  };
  std::vector<KeyJob> jobs;
  std::map<std::string, size_t> job_of_key;
  for (const PlannedFile& file : plan.fetch) {
    auto found = job_of_key.emplace(file.record.key, jobs.size());
    if (found.second) jobs.emplace_back();
    jobs[found.first->second].files.push_back(&file);
  }
  std::atomic<bool> stop{false};
  StoppableFetcher stoppable(fetcher, &stop);
  ReleaseFetcher* source = watch ? &stoppable : fetcher;
  // The reporter hears from one thread at a time; the bytes it is told are
  // those of every transfer under way, so its progress counts them all.
  std::mutex report;
  std::condition_variable finished;
  uint64_t in_flight = 0;
  uint64_t done_bytes = 0;  // of the files ended, fetched or not
  std::string last_path;
  size_t running = 0;
  int failures = 0;
  // Tells the watch how far the fetch has come, at most once a step and
  // only on this thread; hold holds report.
  auto last_call = std::chrono::steady_clock::now();
  auto tell_watch = [&](std::unique_lock<std::mutex>& hold) {
    auto now = std::chrono::steady_clock::now();
    if (stop || now - last_call < kWatchStep) return;
    last_call = now;
    uint64_t done = done_bytes + in_flight;
    std::string path = last_path;
    uint64_t total = total_bytes;
    hold.unlock();
    bool cancel = watch(std::min(done, total), total, path);
    hold.lock();
    if (cancel) stop = true;
  };
  // Set when no helper could be had: the transfers then run on this thread,
  // which tells the watch between their pieces.
  bool watch_here = false;
  std::atomic<size_t> next{0};
  auto work = [&] {
    for (size_t index = next++; index < jobs.size() && !stop; index = next++) {
      KeyJob& job = jobs[index];
      const PlannedFile& first = *job.files.front();
      {
        std::lock_guard<std::mutex> hold(report);
        reporter->StartFile(first.record.path);
        last_path = first.record.path;
      }
      FetchProgress progress = [&](uint64_t got) {
        std::unique_lock<std::mutex> hold(report);
        in_flight = in_flight - job.received + got;
        job.received = got;
        reporter->FileBytes(in_flight);
        if (watch_here) tell_watch(hold);
      };
      std::string error;
      bool ok = staging->HasChecked(first.record.key);
      // The patch the key counts by: the total counted it, whether it makes
      // the file now or made it in an earlier session.
      const ChosenPatch* chosen = delta == nullptr ? nullptr : delta->ChoiceFor(first.record.key);
      bool cut_off = false;
      if (!ok && chosen != nullptr) {
        std::string warning;
        std::string disk_error;
        ok = delta->Stage(first.record.key, progress, &warning, source, &disk_error);
        // A patch the host's cancel cut off did not fail: it is neither
        // told nor replaced by its whole file, which the cancel would stop
        // as well. Nor is one the disk refused: the whole file would meet
        // the same full disk.
        cut_off = !ok && stop;
        std::lock_guard<std::mutex> hold(report);
        if (!ok && !cut_off && !disk_error.empty()) {
          error = disk_error;
          cut_off = true;
        } else if (!cut_off) {
          if (!warning.empty()) reporter->Problem(warning);
          // Told for the path the patch starts from, which need not be the
          // first of those that share the key.
          std::vector<std::string>* list = ok ? patches.patched : patches.patch_failed;
          if (list != nullptr) list->push_back(chosen->file->record.path);
          if (!ok) {
            // Told to the reporter too, whose bar would otherwise end short.
            total_bytes = total_bytes - chosen->entry.patchSize + ListedSize(chosen->file->record);
            if (ListedSize(chosen->file->record) > chosen->entry.patchSize) {
              reporter->GrowFetch(ListedSize(chosen->file->record) - chosen->entry.patchSize);
            }
            chosen = nullptr;
          }
        }
      }
      ok = ok || (!cut_off && staging->FetchChecked(source, first.parts, first.record.key,
                                                    ListedSize(first.record), progress, &error));
      // Outside the reporter's lock: the check may read the whole file
      // again (a signed release's digest), which must not hold up the other
      // threads.
      if (ok && check) ok = check(job.files, &error);
      std::unique_lock<std::mutex> hold(report);
      in_flight -= job.received;
      for (const PlannedFile* file : job.files) {
        done_bytes += counted(*file, chosen);
        // A cancelled transfer is no failure of the file: it goes on next time.
        if (!ok && !stop) {
          ++failures;
          reporter->Problem("cannot fetch '" + file->record.path + "': " + error);
          failed->push_back(file->record.path);
        }
        // What it counts for: its patch, unless that failed.
        reporter->FinishFile(file->record.path, counted(*file, chosen), ok);
      }
      if (in_flight > 0) reporter->FileBytes(in_flight);
      if (watch_here) tell_watch(hold);
    }
  };
  size_t threads = std::min<size_t>(jobs_wanted < 1 ? 1 : jobs_wanted, jobs.size());
  std::vector<std::thread> helpers;
  // Threads the system refuses leave their files to the others.
  if (!watch) {
    for (size_t i = 1; i < threads && util::StartThread(&helpers, work); ++i) {
    }
    work();
  } else {
    // Every transfer runs on a thread of its own; this thread only watches,
    // so that the host's function runs where the host called from.
    auto helper = [&] {
      work();
      std::lock_guard<std::mutex> ended(report);
      --running;
      finished.notify_all();
    };
    // A helper counts itself out under the lock, which is held until every
    // one the system gave is counted in.
    std::unique_lock<std::mutex> hold(report);
    for (size_t i = 0; i < threads && util::StartThread(&helpers, helper); ++i) {
    }
    running = helpers.size();
    while (running > 0) {
      finished.wait_until(hold, last_call + kWatchStep);
      // A helper that ended wakes this thread early; the watch still hears
      // no more than once a step.
      if (running > 0) tell_watch(hold);
    }
    if (helpers.empty() && threads > 0) {
      // No thread to be had: the transfers run here, and the watch hears
      // between their pieces, so a cancel still cuts the one under way off.
      hold.unlock();
      watch_here = true;
      work();
    }
  }
  for (std::thread& helper : helpers) helper.join();
  reporter->EndFetch();
  if (watch && !stop) {
    // Once at the end, with all there is.
    if (watch(done_bytes, total_bytes, last_path)) stop = true;
  }
  *cancelled = stop;
  return failures;
}

}  // namespace update
