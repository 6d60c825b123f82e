// A C++ host of filedist_update, built apart from the project against the
// installed header and the library alone (check_update_hosts.sh): two
// sessions on two install directories in two threads of one process, each
// checked, downloaded with progress and applied.
//
//   cpp_update_host DIR1 DIR2 URL TRUSTED_KEY
//
// Prints "host ok" last when every step gave what it must.
#include <filedist/filedist_update.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <memory>
#include <string>
#include <thread>

namespace {

std::atomic<int> failures{0};

void Expect(bool cond, const std::string& what) {
  if (cond) return;
  std::printf("FAILED: %s\n", what.c_str());
  ++failures;
}

using Session = std::unique_ptr<filedist_update, void (*)(filedist_update*)>;

Session Open(const std::string& dir, const std::string& source, int* code) {
  filedist_update* opened = nullptr;
  *code = filedist_update_open(dir.c_str(), source.c_str(), &opened);
  return Session(opened, filedist_update_close);
}

struct Watch {
  std::thread::id caller;
  int calls = 0;
  bool elsewhere = false;  // a call came on another thread
  uint64_t last_done = 0;
  uint64_t last_total = 0;
};

int Progress(void* ctx, uint64_t done, uint64_t total, const char* /*path*/) {
  Watch* watch = static_cast<Watch*>(ctx);
  ++watch->calls;
  if (std::this_thread::get_id() != watch->caller) watch->elsewhere = true;
  watch->last_done = done;
  watch->last_total = total;
  return 0;
}

// One host's whole update of dir.
void UpdateOne(const std::string& name, const std::string& dir, const std::string& url,
               const std::string& key) {
  int code = 0;
  Session session = Open(dir, url, &code);
  Expect(code == FILEDIST_UPDATE_OK && session, name + ": open");
  if (!session) return;
  Expect(filedist_update_set(session.get(), "trust", key.c_str()) == FILEDIST_UPDATE_OK,
         name + ": trust");
  Expect(filedist_update_set(session.get(), "jobs", "2") == FILEDIST_UPDATE_OK, name + ": jobs");
  filedist_update_plan plan{};
  plan.size = sizeof plan;
  code = filedist_update_check(session.get(), &plan);
  Expect(code == FILEDIST_UPDATE_OK, name + ": check: " + filedist_update_error(session.get()));
  Expect(plan.files_to_fetch == 4 && plan.verified == 1, name + ": the plan");

  Watch watch;
  watch.caller = std::this_thread::get_id();
  auto start = std::chrono::steady_clock::now();
  code = filedist_update_download(session.get(), Progress, &watch);
  auto took = std::chrono::steady_clock::now() - start;
  Expect(code == FILEDIST_UPDATE_OK, name + ": download: " + filedist_update_error(session.get()));
  Expect(!watch.elsewhere, name + ": progress runs on the thread that called download");
  // At most ten calls a second, and the one at the end.
  long tenths =
      static_cast<long>(std::chrono::duration_cast<std::chrono::milliseconds>(took).count() / 100);
  Expect(watch.calls >= 1 && watch.calls <= tenths + 2,
         name + ": progress called " + std::to_string(watch.calls) + " times in " +
             std::to_string(tenths) + " tenths of a second");
  Expect(watch.last_done == plan.bytes_to_fetch && watch.last_total == plan.bytes_to_fetch,
         name + ": the last report has every byte");

  code = filedist_update_apply(session.get());
  Expect(code == FILEDIST_UPDATE_OK, name + ": apply: " + filedist_update_error(session.get()));
  Expect(filedist_update_check(session.get(), nullptr) == FILEDIST_UPDATE_UP_TO_DATE,
         name + ": up to date afterwards");
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 5) {
    std::printf("usage: cpp_update_host DIR1 DIR2 URL TRUSTED_KEY\n");
    return 2;
  }
  std::string dir1 = argv[1], dir2 = argv[2], url = argv[3], key = argv[4];

  // A session in this thread locks dir1 against one in another thread.
  {
    int code = 0;
    Session held = Open(dir1, url, &code);
    Expect(code == FILEDIST_UPDATE_OK, "open dir1");
    std::thread other([&] {
      int refused = 0;
      Session second = Open(dir1, url, &refused);
      Expect(refused == FILEDIST_UPDATE_E_LOCKED && !second,
             "a session in another thread is refused the locked directory");
    });
    other.join();
  }

  std::thread first([&] { UpdateOne("dir1", dir1, url, key); });
  std::thread second([&] { UpdateOne("dir2", dir2, url, key); });
  first.join();
  second.join();
  if (failures == 0) std::printf("host ok\n");
  return failures == 0 ? 0 : 1;
}
