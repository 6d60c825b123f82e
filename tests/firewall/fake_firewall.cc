#include "fake_firewall.h"

#include <cwchar>

namespace fakefw {

// Reference counting shared by every fake. Objects are never deleted before
// the FakeFirewall goes, so a final count can be read and an extra Release
// does no harm beyond being reported.
class Tracked {
 public:
  Tracked(FakeFirewall* firewall, const char* kind) : fw_(firewall), kind_(kind) {}
  virtual ~Tracked() = default;

  LONG refs() const { return refs_; }
  const std::string& kind() const { return kind_; }

 protected:
  ULONG AddRefOnce() { return static_cast<ULONG>(++refs_); }
  ULONG ReleaseOnce() {
    --refs_;
    if (refs_ == 0) fw_->Log("~" + kind_);
    if (refs_ < 0) fw_->Log(kind_ + " over-released");
    return refs_ < 0 ? 0 : static_cast<ULONG>(refs_);
  }
  Twist Record(const char* method, const std::string& args = std::string()) {
    return fw_->Record(kind_ + "." + method, args);
  }
  // Methods the library has no business calling: logged as unexpected.
  HRESULT Unexpected(const char* method) {
    Record(method, "unexpected");
    return E_NOTIMPL;
  }
  // A property that hands out a new object of type T.
  template <class T, class Out, class... Args>
  HRESULT HandOut(const char* method, Out** out, Args&&... make) {
    Twist twist = Record(method);
    if (out == nullptr) return E_POINTER;
    *out = nullptr;
    if (twist == Twist::kFail) return E_FAIL;
    if (twist == Twist::kNone) *out = fw_->Make<T>(std::forward<Args>(make)...);
    return S_OK;
  }

  FakeFirewall* fw_;

 private:
  std::string kind_;
  LONG refs_ = 1;
};

#define FAKE_UNEXPECTED(method, ...) \
  HRESULT STDMETHODCALLTYPE method(__VA_ARGS__) override { return Unexpected(#method); }

template <class Interface>
class FakeObject : public Interface, public Tracked {
 public:
  using Tracked::Tracked;

  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** out) override {
    Record("QueryInterface");
    if (out == nullptr) return E_POINTER;
    *out = nullptr;
    if (iid != __uuidof(IUnknown) && iid != __uuidof(IDispatch) && iid != __uuidof(Interface)) {
      return E_NOINTERFACE;
    }
    *out = static_cast<Interface*>(this);
    AddRefOnce();
    return S_OK;
  }
  ULONG STDMETHODCALLTYPE AddRef() override { return AddRefOnce(); }
  ULONG STDMETHODCALLTYPE Release() override { return ReleaseOnce(); }
  FAKE_UNEXPECTED(GetTypeInfoCount, UINT*)
  FAKE_UNEXPECTED(GetTypeInfo, UINT, LCID, ITypeInfo**)
  FAKE_UNEXPECTED(GetIDsOfNames, REFIID, LPOLESTR*, UINT, LCID, DISPID*)
  FAKE_UNEXPECTED(Invoke, DISPID, REFIID, LCID, WORD, DISPPARAMS*, VARIANT*, EXCEPINFO*, UINT*)
};

namespace {

// What identifies an entry in its collection.
std::string KeyOf(const PortRecord& port) {
  return std::to_string(port.port) + "," + std::to_string(port.protocol);
}
std::string KeyOf(const ProgramRecord& program) { return program.path; }

std::vector<PortRecord>& ListOf(FakeFirewall* fw, const PortRecord*) { return fw->ports; }
std::vector<ProgramRecord>& ListOf(FakeFirewall* fw, const ProgramRecord*) { return fw->programs; }

// An entry: a new one (from CoCreateInstance, enabled as the platform's new
// entries are) or the view of one the firewall holds.
template <class Interface, class Data>
class FakeEntry : public FakeObject<Interface> {
 public:
  FakeEntry(FakeFirewall* firewall, const char* kind, int bound)
      : FakeObject<Interface>(firewall, kind), bound_(bound) {
    data_.enabled = true;
  }

  // A new entry's own data, or the table's entry that a looked-up one shows:
  // writing to that changes the firewall at once, as on the platform.
  Data& data() {
    return bound_ < 0 ? data_ : ListOf(this->fw_, &data_)[static_cast<size_t>(bound_)];
  }

  HRESULT STDMETHODCALLTYPE put_Name(BSTR name) override {
    return Set("put_Name", &data().name, Narrow(name));
  }
  HRESULT STDMETHODCALLTYPE get_Enabled(VARIANT_BOOL* enabled) override {
    if (this->Record("get_Enabled") == Twist::kFail) return E_FAIL;
    *enabled = data().enabled ? VARIANT_TRUE : VARIANT_FALSE;
    return S_OK;
  }
  // Settings the library leaves alone; written anyway, they show in the table.
  HRESULT STDMETHODCALLTYPE put_Enabled(VARIANT_BOOL enabled) override {
    return Set("put_Enabled", &data().enabled, enabled != VARIANT_FALSE);
  }
  HRESULT STDMETHODCALLTYPE put_Scope(NET_FW_SCOPE scope) override {
    return Set("put_Scope", &data().rest.scope, scope);
  }
  HRESULT STDMETHODCALLTYPE put_IpVersion(NET_FW_IP_VERSION version) override {
    return Set("put_IpVersion", &data().rest.ip_version, version);
  }
  HRESULT STDMETHODCALLTYPE put_RemoteAddresses(BSTR addresses) override {
    return Set("put_RemoteAddresses", &data().rest.remote_addresses, Narrow(addresses));
  }

 protected:
  template <class Field>
  HRESULT Set(const char* method, Field* field, Field value) {
    if (this->Record(method) == Twist::kFail) return E_FAIL;
    *field = value;
    return S_OK;
  }

 private:
  Data data_{};
  int bound_;
};

class FakeOpenPort : public FakeEntry<INetFwOpenPort, PortRecord> {
 public:
  FakeOpenPort(FakeFirewall* firewall, int bound = -1) : FakeEntry(firewall, "OpenPort", bound) {}

  HRESULT STDMETHODCALLTYPE put_Protocol(NET_FW_IP_PROTOCOL protocol) override {
    return Set("put_Protocol", &data().protocol, int(protocol));
  }
  HRESULT STDMETHODCALLTYPE put_Port(LONG port) override {
    return Set("put_Port", &data().port, port);
  }
  FAKE_UNEXPECTED(get_Name, BSTR*)
  FAKE_UNEXPECTED(get_IpVersion, NET_FW_IP_VERSION*)
  FAKE_UNEXPECTED(get_Protocol, NET_FW_IP_PROTOCOL*)
  FAKE_UNEXPECTED(get_Port, LONG*)
  FAKE_UNEXPECTED(get_Scope, NET_FW_SCOPE*)
  FAKE_UNEXPECTED(get_RemoteAddresses, BSTR*)
  FAKE_UNEXPECTED(get_BuiltIn, VARIANT_BOOL*)
};

class FakeApplication : public FakeEntry<INetFwAuthorizedApplication, ProgramRecord> {
 public:
  FakeApplication(FakeFirewall* firewall, int bound = -1)
      : FakeEntry(firewall, "Application", bound) {}

  HRESULT STDMETHODCALLTYPE put_ProcessImageFileName(BSTR path) override {
    return Set("put_ProcessImageFileName", &data().path, Narrow(path));
  }
  FAKE_UNEXPECTED(get_Name, BSTR*)
  FAKE_UNEXPECTED(get_ProcessImageFileName, BSTR*)
  FAKE_UNEXPECTED(get_IpVersion, NET_FW_IP_VERSION*)
  FAKE_UNEXPECTED(get_Scope, NET_FW_SCOPE*)
  FAKE_UNEXPECTED(get_RemoteAddresses, BSTR*)
};

// A collection: Item finds an entry by its key (a missing one is an error,
// as the platform reports it); Add stores a copy of a fake entry, replacing
// one with the same key.
template <class Interface, class Entry, class EntryInterface, class Data>
class FakeCollection : public FakeObject<Interface> {
 public:
  using FakeObject<Interface>::FakeObject;

 protected:
  HRESULT Find(const std::string& key, EntryInterface** entry) {
    std::vector<Data>& list = ListOf(this->fw_, static_cast<Data*>(nullptr));
    for (size_t i = 0; i < list.size(); ++i) {
      if (KeyOf(list[i]) == key) return this->template HandOut<Entry>("Item", entry, int(i));
    }
    this->Record("Item");
    if (entry != nullptr) *entry = nullptr;
    return HRESULT_FROM_WIN32(ERROR_FILE_NOT_FOUND);
  }
  HRESULT Store(EntryInterface* entry) {
    auto* fake = dynamic_cast<Entry*>(entry);
    if (fake == nullptr) {
      this->Record("Add", "not a fake entry");
      return E_INVALIDARG;
    }
    const Data& added = fake->data();
    if (this->Record("Add") == Twist::kFail) return E_FAIL;
    std::vector<Data>& list = ListOf(this->fw_, &added);
    for (Data& existing : list) {
      if (KeyOf(existing) == KeyOf(added)) {
        existing = added;
        return S_OK;
      }
    }
    list.push_back(added);
    return S_OK;
  }
};

class FakeOpenPorts
    : public FakeCollection<INetFwOpenPorts, FakeOpenPort, INetFwOpenPort, PortRecord> {
 public:
  explicit FakeOpenPorts(FakeFirewall* firewall) : FakeCollection(firewall, "OpenPorts") {}

  HRESULT STDMETHODCALLTYPE Item(LONG port, NET_FW_IP_PROTOCOL protocol,
                                 INetFwOpenPort** entry) override {
    return Find(KeyOf(PortRecord{port, protocol, std::string(), false}), entry);
  }
  HRESULT STDMETHODCALLTYPE Add(INetFwOpenPort* port) override { return Store(port); }
  FAKE_UNEXPECTED(get_Count, LONG*)
  FAKE_UNEXPECTED(Remove, LONG, NET_FW_IP_PROTOCOL)
  FAKE_UNEXPECTED(get__NewEnum, IUnknown**)
};

class FakeApplications : public FakeCollection<INetFwAuthorizedApplications, FakeApplication,
                                               INetFwAuthorizedApplication, ProgramRecord> {
 public:
  explicit FakeApplications(FakeFirewall* firewall) : FakeCollection(firewall, "Applications") {}

  HRESULT STDMETHODCALLTYPE Item(BSTR path, INetFwAuthorizedApplication** entry) override {
    return Find(Narrow(path), entry);
  }
  HRESULT STDMETHODCALLTYPE Add(INetFwAuthorizedApplication* app) override { return Store(app); }
  FAKE_UNEXPECTED(get_Count, LONG*)
  FAKE_UNEXPECTED(Remove, BSTR)
  FAKE_UNEXPECTED(get__NewEnum, IUnknown**)
};

class FakeProfile : public FakeObject<INetFwProfile> {
 public:
  explicit FakeProfile(FakeFirewall* firewall) : FakeObject(firewall, "Profile") {}

  HRESULT STDMETHODCALLTYPE get_ExceptionsNotAllowed(VARIANT_BOOL* notAllowed) override {
    if (Record("get_ExceptionsNotAllowed") == Twist::kFail) return E_FAIL;
    *notAllowed = fw_->exceptions_not_allowed ? VARIANT_TRUE : VARIANT_FALSE;
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE put_ExceptionsNotAllowed(VARIANT_BOOL notAllowed) override {
    if (Record("put_ExceptionsNotAllowed") == Twist::kFail) return E_FAIL;
    fw_->exceptions_not_allowed = notAllowed != VARIANT_FALSE;
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE get_GloballyOpenPorts(INetFwOpenPorts** ports) override {
    return HandOut<FakeOpenPorts>("get_GloballyOpenPorts", ports);
  }
  HRESULT STDMETHODCALLTYPE
  get_AuthorizedApplications(INetFwAuthorizedApplications** apps) override {
    return HandOut<FakeApplications>("get_AuthorizedApplications", apps);
  }
  FAKE_UNEXPECTED(get_Type, NET_FW_PROFILE_TYPE*)
  FAKE_UNEXPECTED(get_FirewallEnabled, VARIANT_BOOL*)
  FAKE_UNEXPECTED(put_FirewallEnabled, VARIANT_BOOL)
  FAKE_UNEXPECTED(get_NotificationsDisabled, VARIANT_BOOL*)
  FAKE_UNEXPECTED(put_NotificationsDisabled, VARIANT_BOOL)
  FAKE_UNEXPECTED(get_UnicastResponsesToMulticastBroadcastDisabled, VARIANT_BOOL*)
  FAKE_UNEXPECTED(put_UnicastResponsesToMulticastBroadcastDisabled, VARIANT_BOOL)
  FAKE_UNEXPECTED(get_RemoteAdminSettings, INetFwRemoteAdminSettings**)
  FAKE_UNEXPECTED(get_IcmpSettings, INetFwIcmpSettings**)
  FAKE_UNEXPECTED(get_Services, INetFwServices**)
};

class FakePolicy : public FakeObject<INetFwPolicy> {
 public:
  explicit FakePolicy(FakeFirewall* firewall) : FakeObject(firewall, "Policy") {}

  HRESULT STDMETHODCALLTYPE get_CurrentProfile(INetFwProfile** profile) override {
    return HandOut<FakeProfile>("get_CurrentProfile", profile);
  }
  FAKE_UNEXPECTED(GetProfileByType, NET_FW_PROFILE_TYPE, INetFwProfile**)
};

class FakeManager : public FakeObject<INetFwMgr> {
 public:
  explicit FakeManager(FakeFirewall* firewall) : FakeObject(firewall, "Manager") {}

  HRESULT STDMETHODCALLTYPE get_LocalPolicy(INetFwPolicy** policy) override {
    return HandOut<FakePolicy>("get_LocalPolicy", policy);
  }
  FAKE_UNEXPECTED(get_CurrentProfileType, NET_FW_PROFILE_TYPE*)
  FAKE_UNEXPECTED(RestoreDefaults)
  FAKE_UNEXPECTED(IsPortAllowed, BSTR, NET_FW_IP_VERSION, LONG, BSTR, NET_FW_IP_PROTOCOL, VARIANT*,
                  VARIANT*)
  FAKE_UNEXPECTED(IsIcmpTypeAllowed, NET_FW_IP_VERSION, BSTR, BYTE, VARIANT*, VARIANT*)
};

FakeFirewall* g_active = nullptr;

HRESULT WINAPI FakeInitialize(LPVOID reserved, DWORD flags) {
  FakeFirewall& fw = *g_active;
  fw.Log("CoInitializeEx(" + std::string(reserved != nullptr ? "reserved," : "") +
         std::to_string(flags) + ")");
  if (fw.force_init) return fw.forced_init;
  return CoInitializeEx(reserved, flags);
}

void WINAPI FakeUninitialize() {
  FakeFirewall& fw = *g_active;
  fw.Log("CoUninitialize");
  fw.Uninitialized();
  if (!fw.force_init) CoUninitialize();
}

// The classes the library may create, each with the one interface it must
// ask for. The identifiers come from the platform's header, not from the
// library, so a wrong digit on either side shows.
struct Creatable {
  const char* kind;
  CLSID clsid;
  IID iid;
};

HRESULT WINAPI FakeCreateInstance(REFCLSID clsid, LPUNKNOWN outer, DWORD context, REFIID iid,
                                  LPVOID* object) {
  FakeFirewall& fw = *g_active;
  static const Creatable kCreatable[] = {
      {"Manager",
       {0x304ce942, 0x6e39, 0x40d8, {0x94, 0x3a, 0xb9, 0x13, 0xc4, 0x0c, 0x9c, 0xd4}},
       __uuidof(INetFwMgr)},
      {"OpenPort",
       {0x0ca545c6, 0x37ad, 0x4a6c, {0xbf, 0x92, 0x9f, 0x76, 0x10, 0x06, 0x7e, 0xf5}},
       __uuidof(INetFwOpenPort)},
      {"Application",
       {0xec9846b3, 0x2762, 0x4a6b, {0xa2, 0x14, 0x6a, 0xcb, 0x60, 0x34, 0x62, 0xd2}},
       __uuidof(INetFwAuthorizedApplication)},
  };
  *object = nullptr;
  const Creatable* match = nullptr;
  for (const Creatable& creatable : kCreatable) {
    if (IsEqualGUID(clsid, creatable.clsid) && IsEqualGUID(iid, creatable.iid)) match = &creatable;
  }
  if (match == nullptr || outer != nullptr || context != CLSCTX_INPROC_SERVER) {
    fw.Log("CoCreateInstance(unexpected arguments)");
    return REGDB_E_CLASSNOTREG;
  }
  const std::string kind = match->kind;
  Twist twist = fw.Record("CoCreateInstance(" + kind + ")");
  if (twist == Twist::kFail) return REGDB_E_CLASSNOTREG;
  if (twist == Twist::kSucceedWithoutObject) return S_OK;
  if (kind == "Manager") {
    *object = static_cast<INetFwMgr*>(fw.Make<FakeManager>());
  } else if (kind == "OpenPort") {
    *object = static_cast<INetFwOpenPort*>(fw.Make<FakeOpenPort>());
  } else {
    *object = static_cast<INetFwAuthorizedApplication*>(fw.Make<FakeApplication>());
  }
  return S_OK;
}

}  // namespace

FakeFirewall::FakeFirewall() : previous_active_(g_active) {
  g_active = this;
  previous_ = fw::ReplaceComRuntime({&FakeInitialize, &FakeUninitialize, &FakeCreateInstance});
}

FakeFirewall::~FakeFirewall() {
  fw::ReplaceComRuntime(previous_);
  g_active = previous_active_;
}

void FakeFirewall::Inject(const std::string& name, Twist twist, int occurrence) {
  twists_[name][occurrence] = twist;
}

Twist FakeFirewall::Record(const std::string& name, const std::string& args) {
  log_.push_back(args.empty() ? name : name + "(" + args + ")");
  const int occurrence = ++seen_[name];
  auto calls = twists_.find(name);
  if (calls == twists_.end()) return Twist::kNone;
  auto twist = calls->second.find(occurrence);
  return twist == calls->second.end() ? Twist::kNone : twist->second;
}

std::vector<std::string> FakeFirewall::Unexpected() const {
  std::vector<std::string> calls;
  for (const std::string& entry : log_) {
    if (entry.find("unexpected") != std::string::npos) calls.push_back(entry);
  }
  return calls;
}

std::vector<std::string> FakeFirewall::Unreleased() const {
  std::vector<std::string> kinds;
  for (const auto& object : objects_) {
    if (object->refs() > 0) kinds.push_back(object->kind());
    if (object->refs() < 0) kinds.push_back(object->kind() + " over-released");
  }
  return kinds;
}

void FakeFirewall::Uninitialized() {
  held_at_uninitialize_ = 0;
  for (const auto& object : objects_) {
    if (object->refs() > 0) ++held_at_uninitialize_;
  }
}

std::string Narrow(BSTR text) {
  if (text == nullptr) return "<null>";
  const size_t units = std::wcslen(text);
  if (SysStringLen(text) != units) return "<not a BSTR>";
  if (units == 0) return std::string();
  int bytes = WideCharToMultiByte(CP_UTF8, 0, text, int(units), nullptr, 0, nullptr, nullptr);
  std::string narrow(bytes, '\0');
  WideCharToMultiByte(CP_UTF8, 0, text, int(units), &narrow[0], bytes, nullptr, nullptr);
  return narrow;
}

}  // namespace fakefw
