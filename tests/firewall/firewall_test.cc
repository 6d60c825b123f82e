// AddPort2FW and AddProc2FW against fake firewall objects. The platform's
// firewall (and Wine's, which is a stub) cannot show what was asked of it, so
// the fakes keep the firewall's tables and the tests read them after the
// call; COM initialisation itself is the system's unless a test forces its
// answer.
#include <gtest/gtest.h>

#include <set>
#include <string>
#include <vector>

#include "common.h"
#include "fake_firewall.h"

namespace {

using fakefw::EntryDefaults;
using fakefw::FakeFirewall;
using fakefw::PortRecord;
using fakefw::ProgramRecord;
using fakefw::Twist;
using Calls = std::vector<std::string>;

size_t IndexOf(const Calls& log, const std::string& entry) {
  for (size_t i = 0; i < log.size(); ++i) {
    if (log[i] == entry) return i;
  }
  return log.size();
}

// True when the calling thread has no COM apartment.
bool ThreadWithoutCom() {
  HRESULT hr = CoInitializeEx(nullptr, COINIT_MULTITHREADED);
  if (SUCCEEDED(hr)) CoUninitialize();
  return hr == S_OK;
}

// Whatever happened: COM was initialised (apartment-threaded, without OLE1
// DDE) before anything else was asked, nothing was asked that the exports
// have no business asking, every object is given back, the profile before
// COM goes, and the manager and the policy before the profile is used.
void ExpectCleanSession(const FakeFirewall& fw) {
  const Calls& log = fw.log();
  if (!log.empty()) {
    EXPECT_EQ(log.front(), "CoInitializeEx(6)");
  }
  EXPECT_EQ(fw.Unexpected(), Calls());
  EXPECT_EQ(fw.Unreleased(), Calls());
  EXPECT_LE(fw.held_at_uninitialize(), 0);
  const size_t profileUse = IndexOf(log, "Profile.get_ExceptionsNotAllowed");
  if (profileUse < log.size()) {
    EXPECT_LT(IndexOf(log, "~Manager"), profileUse);
    EXPECT_LT(IndexOf(log, "~Policy"), profileUse);
  }
}

// The settings left to the platform, when one was changed.
std::string ShowRest(const EntryDefaults& rest) {
  const EntryDefaults defaults;
  std::string text;
  if (rest.scope != defaults.scope) text += " scope " + std::to_string(rest.scope);
  if (rest.ip_version != defaults.ip_version) text += " ip " + std::to_string(rest.ip_version);
  if (rest.remote_addresses != defaults.remote_addresses) text += " from " + rest.remote_addresses;
  return text;
}

// Tables as "80/6 web on" lines, for comparing.
std::string Show(const std::vector<PortRecord>& ports) {
  std::string text;
  for (const PortRecord& p : ports) {
    text += std::to_string(p.port) + "/" + std::to_string(p.protocol) + " " + p.name +
            (p.enabled ? " on" : " off") + ShowRest(p.rest) + "\n";
  }
  return text;
}

std::string Show(const std::vector<ProgramRecord>& programs) {
  std::string text;
  for (const ProgramRecord& p : programs) {
    text += p.path + " " + p.name + (p.enabled ? " on" : " off") + ShowRest(p.rest) + "\n";
  }
  return text;
}

class FirewallTest : public ::testing::Test {
 protected:
  // The thread is left without COM, as it was found.
  void TearDown() override {
    ExpectCleanSession(fw_);
    EXPECT_TRUE(ThreadWithoutCom());
  }

  FakeFirewall fw_;
};

// ---------------------------------------------------------------- AddPort2FW

struct PortCase {
  const char* what;
  std::vector<PortRecord> before;
  bool notAllowed;  // ExceptionsNotAllowed before the call
  LONG port;        // AddPort2FW(port, tcp, name)
  int tcp;
  const char* name;
  const char* failing;  // a call that fails, or nullptr
  int result;
  std::vector<PortRecord> after;
};

TEST_F(FirewallTest, PortCases) {
  const PortRecord on{80, 6, "old", true};
  const PortRecord off{80, 6, "old", false};
  const PortRecord udp{80, 17, "old", true};
  const PortRecord web{80, 6, "web", true};
  // clang-format off
  const std::vector<PortCase> cases = {
      {"absent port is added", {}, false, 80, 1, "web", nullptr, 1, {web}},
      {"enabled port is left alone", {on}, false, 80, 1, "web", nullptr, 1, {on}},
      {"disabled port gets a new entry through Add", {off}, false, 80, 1, "web", nullptr, 1, {web}},
      {"the port open for UDP is not open for TCP", {udp}, false, 80, 1, "web", nullptr,
       1, {udp, web}},
      {"zero flag means UDP", {{53, 6, "tcp", true}}, false, 53, 0, "dns", nullptr,
       1, {{53, 6, "tcp", true}, {53, 17, "dns", true}}},
      {"zero flag finds the UDP port", {{53, 17, "udp", true}}, false, 53, 0, "dns", nullptr,
       1, {{53, 17, "udp", true}}},
      {"exceptions are allowed even when the port exists", {on}, true, 80, 1, "web", nullptr,
       1, {on}},
      {"exceptions are allowed before adding", {}, true, 80, 1, "web", nullptr, 1, {web}},
      {"empty name adds nothing", {}, true, 80, 1, "", nullptr, 0, {}},
      {"null name adds nothing", {}, false, 80, 1, nullptr, nullptr, 0, {}},
      {"name unused for an enabled port", {on}, false, 80, 1, "", nullptr, 1, {on}},
      {"empty name refused for a disabled port", {off}, false, 80, 1, "", nullptr, 0, {off}},
      {"failing Add fails the call", {}, false, 80, 1, "web", "OpenPorts.Add", 0, {}},
      {"failing Add for a disabled port", {off}, false, 80, 1, "web", "OpenPorts.Add", 0, {off}},
      {"failing Item means absent", {on}, false, 80, 1, "web", "OpenPorts.Item", 1, {web}},
  };
  // clang-format on
  for (const PortCase& c : cases) {
    SCOPED_TRACE(c.what);
    FakeFirewall fw;
    fw.ports = c.before;
    fw.exceptions_not_allowed = c.notAllowed;
    if (c.failing != nullptr) fw.Inject(c.failing, Twist::kFail);
    EXPECT_EQ(AddPort2FW(c.port, c.tcp, c.name), c.result);
    EXPECT_FALSE(fw.exceptions_not_allowed);
    EXPECT_EQ(Show(fw.ports), Show(c.after));
    EXPECT_EQ(Show(fw.programs), "");
    ExpectCleanSession(fw);
  }
}

TEST_F(FirewallTest, AnyNonZeroFlagMeansTcp) {
  for (int tcp : {1, -1, 2, 6, 17}) {
    SCOPED_TRACE(tcp);
    FakeFirewall fw;
    EXPECT_EQ(AddPort2FW(8080, tcp, "proxy"), 1);
    EXPECT_EQ(Show(fw.ports), "8080/6 proxy on\n");
    // The lookup asks for TCP too: the entry is found and left alone.
    EXPECT_EQ(AddPort2FW(8080, tcp, "other"), 1);
    EXPECT_EQ(Show(fw.ports), "8080/6 proxy on\n");
  }
}

TEST_F(FirewallTest, SecondCallFindsTheFirstCallsPort) {
  EXPECT_EQ(AddPort2FW(4000, 0, "game"), 1);
  EXPECT_EQ(AddPort2FW(4000, 0, "renamed"), 1);
  EXPECT_EQ(Show(fw_.ports), "4000/17 game on\n");
}

// --------------------------------------------------------------- AddProc2FW

struct ProgramCase {
  const char* what;
  std::vector<ProgramRecord> before;
  bool notAllowed;
  const char* path;
  const char* name;
  const char* failing;
  int result;
  std::vector<ProgramRecord> after;
};

TEST_F(FirewallTest, ProgramCases) {
  const char* const app = "C:\\Games\\app.exe";
  const ProgramRecord on{app, "old", true};
  const ProgramRecord off{app, "old", false};
  const ProgramRecord other{"C:\\Games\\other.exe", "other", true};
  const ProgramRecord added{app, "App", true};
  // clang-format off
  const std::vector<ProgramCase> cases = {
      {"absent program is added", {other}, false, app, "App", nullptr, 1, {other, added}},
      {"enabled program is left alone", {on}, false, app, "App", nullptr, 1, {on}},
      {"disabled program gets a new entry through Add", {off}, false, app, "App", nullptr,
       1, {added}},
      {"exceptions are allowed even when the program exists", {on}, true, app, "App", nullptr,
       1, {on}},
      {"empty path is refused", {}, true, "", "App", nullptr, 0, {}},
      {"null path is refused", {}, false, nullptr, "App", nullptr, 0, {}},
      {"empty name adds nothing", {}, false, app, "", nullptr, 0, {}},
      {"null name adds nothing", {}, true, app, nullptr, nullptr, 0, {}},
      {"name unused for an enabled program", {on}, false, app, "", nullptr, 1, {on}},
      {"failing Add fails the call", {}, false, app, "App", "Applications.Add", 0, {}},
      {"failing Item means absent", {on}, false, app, "App", "Applications.Item", 1, {added}},
  };
  // clang-format on
  for (const ProgramCase& c : cases) {
    SCOPED_TRACE(c.what);
    FakeFirewall fw;
    fw.programs = c.before;
    fw.exceptions_not_allowed = c.notAllowed;
    if (c.failing != nullptr) fw.Inject(c.failing, Twist::kFail);
    EXPECT_EQ(AddProc2FW(c.path, c.name), c.result);
    EXPECT_FALSE(fw.exceptions_not_allowed);
    EXPECT_EQ(Show(fw.programs), Show(c.after));
    EXPECT_EQ(Show(fw.ports), "");
    ExpectCleanSession(fw);
  }
}

// ------------------------------------------------------ failures on the way

struct Failure {
  const char* call;
  int occurrence;
  Twist twist;
};

// Every platform call that fails, or succeeds without handing back the
// object asked for, ends the call with 0 at once: the tables are as they
// were, and nothing is leaked. Exceptions stay refused only when the failure
// came before the profile's setting was changed.
void ExpectEachFailureStops(bool port, bool allowed, const std::vector<Failure>& failures) {
  for (const Failure& f : failures) {
    SCOPED_TRACE(std::string(f.call) + " #" + std::to_string(f.occurrence) +
                 (f.twist == Twist::kFail ? " fails" : " gives no object"));
    FakeFirewall fw;
    fw.exceptions_not_allowed = true;
    // A disabled entry makes the lookup succeed, so both lookups and adds run.
    fw.ports = {{80, 6, "old", false}};
    fw.programs = {{"C:\\app.exe", "old", false}};
    fw.Inject(f.call, f.twist, f.occurrence);
    const int result = port ? AddPort2FW(80, 1, "web") : AddProc2FW("C:\\app.exe", "App");
    EXPECT_EQ(result, 0);
    EXPECT_EQ(fw.exceptions_not_allowed, !allowed);
    EXPECT_EQ(Show(fw.ports), "80/6 old off\n");
    EXPECT_EQ(Show(fw.programs), "C:\\app.exe old off\n");
    ExpectCleanSession(fw);
  }
}

const std::vector<Failure> kProfileFailures = {
    {"CoCreateInstance(Manager)", 1, Twist::kFail},
    {"CoCreateInstance(Manager)", 1, Twist::kSucceedWithoutObject},
    {"Manager.get_LocalPolicy", 1, Twist::kFail},
    {"Manager.get_LocalPolicy", 1, Twist::kSucceedWithoutObject},
    {"Policy.get_CurrentProfile", 1, Twist::kFail},
    {"Policy.get_CurrentProfile", 1, Twist::kSucceedWithoutObject},
    {"Profile.get_ExceptionsNotAllowed", 1, Twist::kFail},
    {"Profile.put_ExceptionsNotAllowed", 1, Twist::kFail},
};

TEST_F(FirewallTest, PortFailuresStopTheCall) {
  ExpectEachFailureStops(true, false, kProfileFailures);
  ExpectEachFailureStops(true, true,
                         {
                             {"Profile.get_GloballyOpenPorts", 1, Twist::kFail},
                             {"Profile.get_GloballyOpenPorts", 1, Twist::kSucceedWithoutObject},
                             {"OpenPort.get_Enabled", 1, Twist::kFail},
                             {"Profile.get_GloballyOpenPorts", 2, Twist::kFail},
                             {"Profile.get_GloballyOpenPorts", 2, Twist::kSucceedWithoutObject},
                             {"CoCreateInstance(OpenPort)", 1, Twist::kFail},
                             {"CoCreateInstance(OpenPort)", 1, Twist::kSucceedWithoutObject},
                             {"OpenPort.put_Port", 1, Twist::kFail},
                             {"OpenPort.put_Protocol", 1, Twist::kFail},
                             {"OpenPort.put_Name", 1, Twist::kFail},
                             {"OpenPorts.Add", 1, Twist::kFail},
                         });
}

TEST_F(FirewallTest, ProgramFailuresStopTheCall) {
  ExpectEachFailureStops(false, false, kProfileFailures);
  ExpectEachFailureStops(
      false, true,
      {
          {"Profile.get_AuthorizedApplications", 1, Twist::kFail},
          {"Profile.get_AuthorizedApplications", 1, Twist::kSucceedWithoutObject},
          {"Application.get_Enabled", 1, Twist::kFail},
          {"Profile.get_AuthorizedApplications", 2, Twist::kFail},
          {"CoCreateInstance(Application)", 1, Twist::kFail},
          {"CoCreateInstance(Application)", 1, Twist::kSucceedWithoutObject},
          {"Application.put_ProcessImageFileName", 1, Twist::kFail},
          {"Application.put_Name", 1, Twist::kFail},
          {"Applications.Add", 1, Twist::kFail},
      });
}

// An Item that answers success without an entry is taken as absent, as a
// failed one is.
TEST_F(FirewallTest, LookupWithoutEntryMeansAbsent) {
  fw_.ports = {{80, 6, "old", true}};
  fw_.programs = {{"C:\\app.exe", "old", true}};
  fw_.Inject("OpenPorts.Item", Twist::kSucceedWithoutObject);
  fw_.Inject("Applications.Item", Twist::kSucceedWithoutObject);
  EXPECT_EQ(AddPort2FW(80, 1, "web"), 1);
  EXPECT_EQ(AddProc2FW("C:\\app.exe", "App"), 1);
  EXPECT_EQ(fw_.ports[0].name, "web");
  EXPECT_EQ(fw_.programs[0].name, "App");
}

// ------------------------------------------------------- COM initialisation

TEST_F(FirewallTest, ThreadAlreadyMultithreadedIsServedAndLeftSo) {
  ASSERT_EQ(CoInitializeEx(nullptr, COINIT_MULTITHREADED), S_OK);
  fw_.exceptions_not_allowed = true;
  EXPECT_EQ(AddPort2FW(80, 1, "web"), 1);
  EXPECT_EQ(AddProc2FW("C:\\app.exe", "App"), 1);
  EXPECT_EQ(fw_.held_at_uninitialize(), -1) << "CoUninitialize was called";
  EXPECT_FALSE(fw_.exceptions_not_allowed);
  EXPECT_EQ(Show(fw_.ports), "80/6 web on\n");
  EXPECT_EQ(Show(fw_.programs), "C:\\app.exe App on\n");
  // Still in the multithreaded apartment, once.
  EXPECT_EQ(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED), RPC_E_CHANGED_MODE);
  CoUninitialize();
}

TEST_F(FirewallTest, ThreadAlreadySingleThreadedIsBalanced) {
  ASSERT_EQ(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED), S_OK);
  EXPECT_EQ(AddPort2FW(80, 1, "web"), 1);
  EXPECT_EQ(fw_.held_at_uninitialize(), 0) << "CoUninitialize was not called";
  EXPECT_EQ(Show(fw_.ports), "80/6 web on\n");
  // The call's own initialisation (S_FALSE) was balanced; ours is left.
  EXPECT_EQ(CoInitializeEx(nullptr, COINIT_MULTITHREADED), RPC_E_CHANGED_MODE);
  CoUninitialize();
}

TEST_F(FirewallTest, RefusedInitialisationCreatesNothing) {
  for (HRESULT refusal : {E_OUTOFMEMORY, E_INVALIDARG, E_UNEXPECTED}) {
    SCOPED_TRACE(refusal);
    FakeFirewall fw;
    fw.force_init = true;
    fw.forced_init = refusal;
    fw.exceptions_not_allowed = true;
    EXPECT_EQ(AddPort2FW(80, 1, "web"), 0);
    EXPECT_EQ(AddProc2FW("C:\\app.exe", "App"), 0);
    EXPECT_EQ(fw.log(), (Calls{"CoInitializeEx(6)", "CoInitializeEx(6)"}));
    EXPECT_TRUE(fw.exceptions_not_allowed);
    EXPECT_EQ(Show(fw.ports), "");
    EXPECT_EQ(Show(fw.programs), "");
  }
}

TEST_F(FirewallTest, ChangedModeAnswerSkipsUninitialise) {
  fw_.force_init = true;
  fw_.forced_init = RPC_E_CHANGED_MODE;
  EXPECT_EQ(AddProc2FW("C:\\app.exe", "App"), 1);
  EXPECT_EQ(fw_.held_at_uninitialize(), -1) << "CoUninitialize was called";
  EXPECT_EQ(Show(fw_.programs), "C:\\app.exe App on\n");
}

// ------------------------------------------------------------- the library

TEST(FirewallIdentifiers, MatchThePlatformHeader) {
  EXPECT_TRUE(IsEqualGUID(fw::kIidNetFwMgr, __uuidof(INetFwMgr)));
  EXPECT_TRUE(IsEqualGUID(fw::kIidNetFwOpenPort, __uuidof(INetFwOpenPort)));
  EXPECT_TRUE(
      IsEqualGUID(fw::kIidNetFwAuthorizedApplication, __uuidof(INetFwAuthorizedApplication)));
}

// The system knows the firewall's classes by the library's identifiers (Wine
// registers them too, though its profile is a stub). Only objects are made;
// nothing is asked of the real firewall.
TEST(FirewallSystem, ClassesAreFoundByTheLibrarysIdentifiers) {
  ASSERT_EQ(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED), S_OK);
  const std::pair<CLSID, IID> classes[] = {
      {fw::kClsidNetFwMgr, fw::kIidNetFwMgr},
      {fw::kClsidNetFwOpenPort, fw::kIidNetFwOpenPort},
      {fw::kClsidNetFwAuthorizedApplication, fw::kIidNetFwAuthorizedApplication}};
  for (const auto& cls : classes) {
    IUnknown* object = nullptr;
    EXPECT_EQ(CoCreateInstance(cls.first, nullptr, CLSCTX_INPROC_SERVER, cls.second,
                               reinterpret_cast<void**>(&object)),
              S_OK);
    if (object != nullptr) object->Release();
  }
  CoUninitialize();
}

// ------------------------------------------------------------- COM strings

// Counts the task allocator's blocks that are alive: COM strings come from
// it once oleaut32's string cache is off.
class LiveBlocks : public IMallocSpy {
 public:
  size_t live() const { return live_.size(); }
  size_t made() const { return made_; }
  void Clear() {
    live_.clear();
    made_ = 0;
  }

  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** out) override {
    if (iid == __uuidof(IUnknown) || iid == __uuidof(IMallocSpy)) {
      *out = this;
      return S_OK;
    }
    *out = nullptr;
    return E_NOINTERFACE;
  }
  ULONG STDMETHODCALLTYPE AddRef() override { return 2; }
  ULONG STDMETHODCALLTYPE Release() override { return 1; }
  SIZE_T STDMETHODCALLTYPE PreAlloc(SIZE_T size) override { return size; }
  void* STDMETHODCALLTYPE PostAlloc(void* block) override {
    if (block != nullptr) live_.insert(block);
    made_ += block != nullptr ? 1 : 0;
    return block;
  }
  void* STDMETHODCALLTYPE PreFree(void* block, BOOL) override {
    live_.erase(block);
    return block;
  }
  void STDMETHODCALLTYPE PostFree(BOOL) override {}
  SIZE_T STDMETHODCALLTYPE PreRealloc(void* block, SIZE_T size, void** newBlock, BOOL) override {
    live_.erase(block);
    *newBlock = block;
    return size;
  }
  void* STDMETHODCALLTYPE PostRealloc(void* block, BOOL) override {
    if (block != nullptr) live_.insert(block);
    return block;
  }
  void* STDMETHODCALLTYPE PreGetSize(void* block, BOOL) override { return block; }
  SIZE_T STDMETHODCALLTYPE PostGetSize(SIZE_T size, BOOL) override { return size; }
  void* STDMETHODCALLTYPE PreDidAlloc(void* block, BOOL) override { return block; }
  int STDMETHODCALLTYPE PostDidAlloc(void*, BOOL, int actual) override { return actual; }
  void STDMETHODCALLTYPE PreHeapMinimize() override {}
  void STDMETHODCALLTYPE PostHeapMinimize() override {}

 private:
  std::set<void*> live_;
  size_t made_ = 0;
};

// Every COM string the exports make is freed on every path, early returns
// included.
TEST(FirewallStrings, EveryComStringIsFreed) {
  typedef void(WINAPI * CacheSwitch)();
  auto noCache = reinterpret_cast<CacheSwitch>(
      GetProcAddress(GetModuleHandleA("oleaut32.dll"), "SetOaNoCache"));
  ASSERT_NE(noCache, nullptr);
  noCache();
  struct Scenario {
    const char* what;
    void (*setUp)(FakeFirewall*);
    int (*call)();
  };
  const Scenario scenarios[] = {
      {"port added", nullptr, [] { return AddPort2FW(80, 1, "web"); }},
      {"port exists",
       [](FakeFirewall* fw) {
         fw->ports = {{80, 6, "old", true}};
       },
       [] { return AddPort2FW(80, 1, "web"); }},
      {"port without name", nullptr, [] { return AddPort2FW(80, 1, ""); }},
      {"port Add fails", [](FakeFirewall* fw) { fw->Inject("OpenPorts.Add", Twist::kFail); },
       [] { return AddPort2FW(80, 1, "web"); }},
      {"program added", nullptr, [] { return AddProc2FW("C:\\app.exe", "App"); }},
      {"program with empty path", nullptr, [] { return AddProc2FW("", "App"); }},
      {"program without name", nullptr, [] { return AddProc2FW("C:\\app.exe", ""); }},
      {"program creation fails",
       [](FakeFirewall* fw) { fw->Inject("CoCreateInstance(Application)", Twist::kFail); },
       [] { return AddProc2FW("C:\\app.exe", "App"); }},
      {"COM refused",
       [](FakeFirewall* fw) {
         fw->force_init = true;
         fw->forced_init = E_OUTOFMEMORY;
       },
       [] { return AddProc2FW("C:\\app.exe", "App"); }},
  };
  // Static: a spy that still sees live blocks is only revoked once they go.
  static LiveBlocks spy;
  ASSERT_EQ(CoRegisterMallocSpy(&spy), S_OK);
  for (const Scenario& scenario : scenarios) {
    SCOPED_TRACE(scenario.what);
    FakeFirewall fw;
    if (scenario.setUp != nullptr) scenario.setUp(&fw);
    spy.Clear();
    scenario.call();
    EXPECT_GE(spy.made(), 1u);
    EXPECT_EQ(spy.live(), 0u);
  }
  CoRevokeMallocSpy();
}

}  // namespace
