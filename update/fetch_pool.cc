#include "update/fetch_pool.h"

#include <algorithm>
#include <atomic>
#include <map>
#include <mutex>
#include <thread>

namespace update {

int FetchIntoStaging(const UpdatePlan& plan, int jobs_wanted, Staging* staging,
                     ReleaseFetcher* fetcher, UpdateReporter* reporter, const StagedCheck& check,
                     std::vector<std::string>* failed) {
  reporter->BeginFetch(plan.fetch_bytes, static_cast<int>(plan.fetch.size()));
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
  // The reporter hears from one thread at a time; the bytes it is told are
  // those of every transfer under way, so its progress counts them all.
  std::mutex report;
  uint64_t in_flight = 0;
  int failures = 0;
  std::atomic<size_t> next{0};
  auto work = [&] {
    for (size_t index = next++; index < jobs.size(); index = next++) {
      KeyJob& job = jobs[index];
      const PlannedFile& first = *job.files.front();
      {
        std::lock_guard<std::mutex> hold(report);
        reporter->StartFile(first.record.path);
      }
      FetchProgress progress = [&](uint64_t got) {
        std::lock_guard<std::mutex> hold(report);
        in_flight = in_flight - job.received + got;
        job.received = got;
        reporter->FileBytes(in_flight);
      };
      std::string error;
      bool ok = staging->HasChecked(first.record.key) ||
                staging->FetchChecked(fetcher, first.parts, first.record.key,
                                      ListedSize(first.record), progress, &error);
      std::lock_guard<std::mutex> hold(report);
      in_flight -= job.received;
      if (ok && check) ok = check(job.files, &error);
      for (const PlannedFile* file : job.files) {
        if (!ok) {
          ++failures;
          reporter->Problem("cannot fetch '" + file->record.path + "': " + error);
          failed->push_back(file->record.path);
        }
        reporter->FinishFile(file->record.path, ListedSize(file->record), ok);
      }
      if (in_flight > 0) reporter->FileBytes(in_flight);
    }
  };
  size_t threads = std::min<size_t>(jobs_wanted < 1 ? 1 : jobs_wanted, jobs.size());
  std::vector<std::thread> helpers;
  for (size_t i = 1; i < threads; ++i) helpers.emplace_back(work);
  work();
  for (std::thread& helper : helpers) helper.join();
  reporter->EndFetch();
  return failures;
}


}  // namespace update
