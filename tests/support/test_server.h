// Web servers for the end-to-end tests, run by tests/servers/test_server.sh
// on free ports of 127.0.0.1: nginx, over HTTP and (with certificates made
// by the test) HTTPS, and a small server for the faults nginx cannot make.
// A Windows test program starts them as Unix programs through Wine.
#ifndef FILEDIST_TESTS_SUPPORT_TEST_SERVER_H
#define FILEDIST_TESTS_SUPPORT_TEST_SERVER_H

#include <string>
#include <vector>

namespace testing_support {

class TestServer {
 public:
  // kind is "nginx" or "faults"; root is served; work holds the server's
  // configuration, logs and ports. For HTTPS, call MakeTestCertificates(work)
  // first.
  TestServer(const std::string& kind, const std::string& root, const std::string& work);
  ~TestServer();
  TestServer(const TestServer&) = delete;
  TestServer& operator=(const TestServer&) = delete;

  bool ok() const { return !ports_.empty(); }
  // Why the server did not start.
  const std::string& failure() const { return failure_; }

  // "http://127.0.0.1:PORT" for "http"; "https://localhost:PORT" for the
  // HTTPS servers: "https" (a certificate of the test's authority for
  // localhost), "wronghost" (of that authority, for another name) and
  // "otherca" (for localhost, of another authority).
  std::string Url(const std::string& name) const;

  // What fault_server.py logged: one "FAULT PATH RANGE" line per request.
  std::string FaultLog() const;

 private:
  std::string work_;
  std::vector<std::pair<std::string, std::string>> ports_;
  std::string failure_;
};

// Makes work/certs: ca.pem (the test's authority) and the servers' keys and
// certificates. False, with *failure set, when openssl cannot.
bool MakeTestCertificates(const std::string& work, std::string* failure);

// True when the Unix tools the servers need (sh, python3, nginx, openssl)
// can be started from this test program.
bool CanStartTestServers(const std::string& kind);

// The platform's part: a path as Unix programs see it (empty when there is no
// such path), and starting a Unix program without waiting for it.
std::string UnixPathOf(const std::string& path);
bool StartUnixProgram(const std::vector<std::string>& argv);

}  // namespace testing_support

#endif  // FILEDIST_TESTS_SUPPORT_TEST_SERVER_H
