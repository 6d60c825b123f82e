// Port and program exceptions in the current profile of the Windows Firewall.
//
// Every call is a session of its own: COM is initialised on the calling
// thread, the profile is fetched, exceptions are allowed, the entry is checked
// and added if needed, and everything is given back before returning. Owning
// wrappers release each interface and free each COM string, so no early
// return can leak one.
#include "filedist_firewall.h"
#include "firewall/firewall_backend.h"
#include "firewall/win32/firewall_com_runtime.h"

namespace fw {
namespace {

// Apartment-threaded, OLE1 DDE disabled.
const DWORD kComInitFlags = COINIT_APARTMENTTHREADED | COINIT_DISABLE_OLE1DDE;
const DWORD kInProcServer = CLSCTX_INPROC_SERVER;

// One interface pointer, released when the wrapper goes.
template <class Interface>
class ComRef {
 public:
  ComRef() = default;
  ~ComRef() { Reset(); }
  ComRef(const ComRef&) = delete;
  ComRef& operator=(const ComRef&) = delete;

  Interface* get() const { return ptr_; }
  Interface* operator->() const { return ptr_; }
  // For out parameters; anything held before is released first.
  Interface** Out() {
    Reset();
    return &ptr_;
  }
  void** OutVoid() { return reinterpret_cast<void**>(Out()); }
  void Reset() {
    if (ptr_ != nullptr) ptr_->Release();
    ptr_ = nullptr;
  }

 private:
  Interface* ptr_ = nullptr;
};

// One COM string, freed when the wrapper goes.
class ComString {
 public:
  ComString() = default;
  explicit ComString(BSTR owned) : str_(owned) {}
  ~ComString() { SysFreeString(str_); }
  ComString(const ComString&) = delete;
  ComString& operator=(const ComString&) = delete;

  BSTR get() const { return str_; }
  bool empty() const { return SysStringLen(str_) == 0; }

  // Converts ANSI text; a null pointer gives a null string. False when the
  // text cannot be converted or memory runs out.
  bool AssignAnsi(const char* text) {
    SysFreeString(str_);
    str_ = nullptr;
    if (text == nullptr) return true;
    int units = MultiByteToWideChar(CP_ACP, 0, text, -1, nullptr, 0);
    if (units <= 0) return false;
    str_ = SysAllocStringLen(nullptr, static_cast<UINT>(units - 1));
    if (str_ == nullptr) return false;
    return MultiByteToWideChar(CP_ACP, 0, text, -1, str_, units) == units;
  }

 private:
  BSTR str_ = nullptr;
};

// A successful call that hands back no object is a failure all the same.
template <class Interface>
HRESULT Obtained(HRESULT hr, const ComRef<Interface>& ref) {
  if (FAILED(hr)) return hr;
  return ref.get() != nullptr ? hr : E_POINTER;
}

template <class Interface>
HRESULT CreateObject(REFCLSID clsid, REFIID iid, ComRef<Interface>* object) {
  HRESULT hr =
      CurrentComRuntime().create_instance(clsid, nullptr, kInProcServer, iid, object->OutVoid());
  return Obtained(hr, *object);
}

HRESULT GetCurrentProfile(ComRef<INetFwProfile>* profile) {
  // The manager and the policy go as soon as the profile is held.
  ComRef<INetFwMgr> manager;
  HRESULT hr = CreateObject(kClsidNetFwMgr, kIidNetFwMgr, &manager);
  if (FAILED(hr)) return hr;
  ComRef<INetFwPolicy> policy;
  hr = Obtained(manager->get_LocalPolicy(policy.Out()), policy);
  if (FAILED(hr)) return hr;
  return Obtained(policy->get_CurrentProfile(profile->Out()), *profile);
}

// A profile that refuses all exceptions would make any entry useless, so the
// refusal is switched off before the entry is looked at.
HRESULT AllowExceptions(INetFwProfile* profile) {
  VARIANT_BOOL notAllowed = VARIANT_FALSE;
  HRESULT hr = profile->get_ExceptionsNotAllowed(&notAllowed);
  if (FAILED(hr) || notAllowed == VARIANT_FALSE) return hr;
  return profile->put_ExceptionsNotAllowed(VARIANT_FALSE);
}

// Looks an entry up: a failed lookup means the entry is absent, which is no
// error. *enabled is true only for an entry that exists and is enabled.
template <class Entry, class Lookup>
HRESULT IsEnabledEntry(Lookup lookup, bool* enabled) {
  *enabled = false;
  ComRef<Entry> entry;
  if (FAILED(lookup(entry.Out())) || entry.get() == nullptr) return S_OK;
  VARIANT_BOOL on = VARIANT_FALSE;
  HRESULT hr = entry->get_Enabled(&on);
  if (SUCCEEDED(hr)) *enabled = on != VARIANT_FALSE;
  return hr;
}

// The name goes into a fresh copy; an empty or null one is refused, so that
// no entry without a name is ever added.
template <class Entry>
HRESULT PutName(Entry* entry, BSTR name) {
  ComString copy(SysAllocString(name));
  if (copy.empty()) return E_OUTOFMEMORY;
  return entry->put_Name(copy.get());
}

// Adds a new entry to the profile's collection: the collection is read
// afresh, the entry is created, filled, named and handed to Add. An entry
// that exists but is disabled is not switched on in place; the new one goes
// through Add like any other, and Add's result decides.
template <class Entry, class Collection, class Fill>
HRESULT AddNewEntry(INetFwProfile* profile,
                    HRESULT (STDMETHODCALLTYPE INetFwProfile::*collectionOf)(Collection**),
                    REFCLSID clsid, REFIID iid, BSTR name, Fill fill) {
  ComRef<Collection> collection;
  HRESULT hr = Obtained((profile->*collectionOf)(collection.Out()), collection);
  if (FAILED(hr)) return hr;
  ComRef<Entry> entry;
  hr = CreateObject(clsid, iid, &entry);
  if (FAILED(hr)) return hr;
  hr = fill(entry.get());
  if (SUCCEEDED(hr)) hr = PutName(entry.get(), name);
  if (SUCCEEDED(hr)) hr = collection->Add(entry.get());
  return hr;
}

struct PortRequest {
  LONG port;
  NET_FW_IP_PROTOCOL protocol;
  BSTR name;
};

HRESULT EnsurePortOpen(INetFwProfile* profile, const PortRequest& request) {
  ComRef<INetFwOpenPorts> ports;
  HRESULT hr = Obtained(profile->get_GloballyOpenPorts(ports.Out()), ports);
  if (FAILED(hr)) return hr;
  bool enabled = false;
  hr = IsEnabledEntry<INetFwOpenPort>(
      [&](INetFwOpenPort** entry) { return ports->Item(request.port, request.protocol, entry); },
      &enabled);
  if (FAILED(hr) || enabled) return hr;

  return AddNewEntry<INetFwOpenPort>(
      profile, &INetFwProfile::get_GloballyOpenPorts, kClsidNetFwOpenPort, kIidNetFwOpenPort,
      request.name, [&](INetFwOpenPort* entry) {
        HRESULT set = entry->put_Port(request.port);
        return SUCCEEDED(set) ? entry->put_Protocol(request.protocol) : set;
      });
}

struct ProgramRequest {
  BSTR imagePath;
  BSTR name;
};

HRESULT EnsureProgramAuthorized(INetFwProfile* profile, const ProgramRequest& request) {
  ComRef<INetFwAuthorizedApplications> programs;
  HRESULT hr = Obtained(profile->get_AuthorizedApplications(programs.Out()), programs);
  if (FAILED(hr)) return hr;
  ComString path(SysAllocString(request.imagePath));
  if (path.empty()) return E_OUTOFMEMORY;
  bool enabled = false;
  hr = IsEnabledEntry<INetFwAuthorizedApplication>(
      [&](INetFwAuthorizedApplication** entry) { return programs->Item(path.get(), entry); },
      &enabled);
  if (FAILED(hr) || enabled) return hr;

  return AddNewEntry<INetFwAuthorizedApplication>(
      profile, &INetFwProfile::get_AuthorizedApplications, kClsidNetFwAuthorizedApplication,
      kIidNetFwAuthorizedApplication, request.name, [&](INetFwAuthorizedApplication* entry) {
        return entry->put_ProcessImageFileName(path.get());
      });
}

// Runs steps on the current profile inside one COM session of the calling
// thread. A thread already initialised in another concurrency mode is served
// all the same and left as it was.
template <class Steps>
int WithCurrentProfile(Steps steps) {
  HRESULT init = CurrentComRuntime().initialize(nullptr, kComInitFlags);
  if (FAILED(init) && init != RPC_E_CHANGED_MODE) return 0;
  HRESULT hr;
  {
    ComRef<INetFwProfile> profile;
    hr = GetCurrentProfile(&profile);
    if (SUCCEEDED(hr)) hr = AllowExceptions(profile.get());
    if (SUCCEEDED(hr)) hr = steps(profile.get());
  }  // the profile goes before COM does
  if (SUCCEEDED(init)) CurrentComRuntime().uninitialize();
  return SUCCEEDED(hr) ? 1 : 0;
}

}  // namespace

int OpenPort(int port, int tcp, const char* name) {
  ComString wideName;
  if (!wideName.AssignAnsi(name)) return 0;
  const PortRequest request = {port, tcp != 0 ? NET_FW_IP_PROTOCOL_TCP : NET_FW_IP_PROTOCOL_UDP,
                               wideName.get()};
  return WithCurrentProfile(
      [&](INetFwProfile* profile) { return EnsurePortOpen(profile, request); });
}

int AuthorizeProgram(const char* imagePath, const char* name) {
  ComString widePath;
  ComString wideName;
  if (!widePath.AssignAnsi(imagePath) || !wideName.AssignAnsi(name)) return 0;
  const ProgramRequest request = {widePath.get(), wideName.get()};
  return WithCurrentProfile(
      [&](INetFwProfile* profile) { return EnsureProgramAuthorized(profile, request); });
}

}  // namespace fw

bool filedist::HasWindowsFirewall() { return true; }
