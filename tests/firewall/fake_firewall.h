// Fake Windows Firewall objects for the firewall exceptions' tests. While a
// FakeFirewall lives, the library's COM runtime table points at it (one made
// while another lives takes over until it goes): object creation hands out
// fakes, COM initialisation is recorded (and passed on to the system unless a
// result is forced). The fakes keep the firewall's tables, the open ports and
// the authorised programs, and change them as the platform does: Add stores
// a copy of the new entry as it is at that moment, so a property written
// after Add never reaches the table. Calls are logged for the few orders COM
// itself fixes, and every object ever handed out is kept so its reference
// count can be checked at the end.
#ifndef FILEDIST_TESTS_FIREWALL_FAKE_FIREWALL_H
#define FILEDIST_TESTS_FIREWALL_FAKE_FIREWALL_H

#include <map>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "firewall/win32/firewall_com_runtime.h"

namespace fakefw {

// What the library leaves to the platform's defaults on a new entry.
struct EntryDefaults {
  NET_FW_SCOPE scope = NET_FW_SCOPE_ALL;
  NET_FW_IP_VERSION ip_version = NET_FW_IP_VERSION_ANY;
  std::string remote_addresses = "*";
};

struct PortRecord {
  PortRecord() = default;
  PortRecord(LONG port, int protocol, std::string name, bool enabled)
      : port(port), protocol(protocol), name(std::move(name)), enabled(enabled) {}
  LONG port = 0;
  int protocol = 0;
  std::string name;
  bool enabled = false;
  EntryDefaults rest;
};

struct ProgramRecord {
  ProgramRecord() = default;
  ProgramRecord(std::string path, std::string name, bool enabled)
      : path(std::move(path)), name(std::move(name)), enabled(enabled) {}
  std::string path;
  std::string name;
  bool enabled = false;
  EntryDefaults rest;
};

// What an injected call does instead of its ordinary work.
enum class Twist {
  kNone,
  kFail,                  // returns E_FAIL
  kSucceedWithoutObject,  // returns S_OK but hands back a null pointer
};

class Tracked;

class FakeFirewall {
 public:
  FakeFirewall();
  ~FakeFirewall();
  FakeFirewall(const FakeFirewall&) = delete;
  FakeFirewall& operator=(const FakeFirewall&) = delete;

  // The firewall's configuration, as the fakes show it and change it.
  bool exceptions_not_allowed = false;
  std::vector<PortRecord> ports;
  std::vector<ProgramRecord> programs;

  // When set, CoInitializeEx answers this without asking the system, and
  // CoUninitialize is not passed on either.
  bool force_init = false;
  HRESULT forced_init = S_OK;

  // The occurrence-th call named name ("OpenPorts.Add",
  // "CoCreateInstance(OpenPort)") takes the twist.
  void Inject(const std::string& name, Twist twist, int occurrence = 1);

  // Every call in order; a final release of an object appears as "~Kind".
  const std::vector<std::string>& log() const { return log_; }
  // The calls the library has no business making: methods the exports do
  // not need, objects created with other arguments.
  std::vector<std::string> Unexpected() const;
  // Kinds of the objects whose reference count is not zero (one entry per
  // object; an over-released one reads "Kind over-released").
  std::vector<std::string> Unreleased() const;
  // How many objects were still held when CoUninitialize was called; -1 if
  // it was not called.
  int held_at_uninitialize() const { return held_at_uninitialize_; }

  // For the fakes.
  Twist Record(const std::string& name, const std::string& args = std::string());
  void Log(const std::string& entry) { log_.push_back(entry); }
  template <class T, class... Args>
  T* Make(Args&&... args) {
    T* object = new T(this, std::forward<Args>(args)...);
    objects_.emplace_back(object);
    return object;
  }
  void Uninitialized();

 private:
  fw::ComRuntime previous_;
  FakeFirewall* previous_active_;
  std::vector<std::string> log_;
  std::map<std::string, std::map<int, Twist>> twists_;
  std::map<std::string, int> seen_;
  std::vector<std::unique_ptr<Tracked>> objects_;
  int held_at_uninitialize_ = -1;
};

// A BSTR as UTF-8 for the tables; "<null>" for a null string and a mark for a
// string whose length prefix does not match its text.
std::string Narrow(BSTR text);

}  // namespace fakefw

#endif  // FILEDIST_TESTS_FIREWALL_FAKE_FIREWALL_H
