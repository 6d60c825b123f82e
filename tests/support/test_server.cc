#include "support/test_server.h"

#include <chrono>
#include <sstream>
#include <thread>

#include "support/test_support.h"

namespace testing_support {

namespace {

std::string Script() { return std::string(FILEDIST_TEST_SERVERS_DIR) + "/test_server.sh"; }

// Waits for the file path to appear; the script writes it whole, by rename.
bool WaitFor(const std::string& path, const std::string& failed, int seconds) {
  for (int wait = 0; wait < seconds * 10; ++wait) {
    if (FileExists(path)) return true;
    if (!failed.empty() && FileExists(failed)) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
  }
  return false;
}

}  // namespace

bool CanStartTestServers(const std::string& kind) {
  static const std::string kProbe = [] {
    ScratchDir scratch;
    std::string unix_dir = UnixPathOf(scratch.path());
    if (unix_dir.empty()) return std::string();
    std::string command =
        "for t in python3 nginx openssl; do command -v $t > /dev/null && echo $t; done > '" +
        unix_dir + "/found.tmp'; mv '" + unix_dir + "/found.tmp' '" + unix_dir + "/found'";
    if (!StartUnixProgram({"/bin/sh", "-c", command})) return std::string();
    if (!WaitFor(scratch.Sub("found"), "", 20)) return std::string();
    return ReadFileBytes(scratch.Sub("found"));
  }();
  if (kProbe.find("python3") == std::string::npos) return false;
  if (kind == "nginx") {
    return kProbe.find("nginx") != std::string::npos && kProbe.find("openssl") != std::string::npos;
  }
  return true;
}

bool MakeTestCertificates(const std::string& work, std::string* failure) {
  std::string unix_work = UnixPathOf(work);
  if (unix_work.empty() || !StartUnixProgram({"/bin/sh", Script(), "certs", unix_work})) {
    *failure = "cannot start " + Script();
    return false;
  }
  std::string done = work + Sep() + "certs" + Sep() + "done";
  if (!WaitFor(done, "", 60)) {
    *failure = "openssl did not make the certificates";
    return false;
  }
  return true;
}

TestServer::TestServer(const std::string& kind, const std::string& root, const std::string& work)
    : work_(work) {
  std::string unix_work = UnixPathOf(work);
  std::string unix_root = UnixPathOf(root);
  if (unix_work.empty() || unix_root.empty() ||
      !StartUnixProgram({"/bin/sh", Script(), kind, unix_work, unix_root})) {
    failure_ = "cannot start " + Script();
    return;
  }
  std::string ports = work + Sep() + "ports";
  std::string failed = work + Sep() + "failed";
  if (!WaitFor(ports, failed, 30)) {
    failure_ = FileExists(failed) ? ReadFileBytes(failed) : kind + " did not start in time";
    return;
  }
  std::istringstream lines(ReadFileBytes(ports));
  std::string name, port;
  while (lines >> name >> port) ports_.emplace_back(name, port);
}

TestServer::~TestServer() {
  std::string unix_work = UnixPathOf(work_);
  if (!unix_work.empty()) StartUnixProgram({"/bin/sh", Script(), "stop", unix_work});
}

std::string TestServer::Url(const std::string& name) const {
  for (const auto& [known, port] : ports_) {
    if (known != name) continue;
    return name == "http" ? "http://127.0.0.1:" + port : "https://localhost:" + port;
  }
  return std::string();
}

std::string TestServer::FaultLog() const {
  std::string log = work_ + Sep() + "faults.log";
  return FileExists(log) ? ReadFileBytes(log) : std::string();
}

}  // namespace testing_support
