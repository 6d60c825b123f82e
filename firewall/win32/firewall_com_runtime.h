// The COM calls the firewall exceptions make to get started, and the
// identifiers of the Windows Firewall objects they create. The calls go
// through one replaceable table so that tests can hand in fake firewall
// objects: the platform's own (and Wine's stubs) cannot be inspected.
#ifndef FILEDIST_FIREWALL_WIN32_FIREWALL_COM_RUNTIME_H
#define FILEDIST_FIREWALL_WIN32_FIREWALL_COM_RUNTIME_H

#include <windows.h>

#include <objbase.h>
#include <oleauto.h>

#include <netfw.h>

namespace fw {

struct ComRuntime {
  HRESULT(WINAPI* initialize)(LPVOID reserved, DWORD flags);
  void(WINAPI* uninitialize)();
  HRESULT(WINAPI* create_instance)
  (REFCLSID clsid, LPUNKNOWN outer, DWORD context, REFIID iid, LPVOID* object);
};

// CoInitializeEx, CoUninitialize and CoCreateInstance.
const ComRuntime& SystemComRuntime();
// The table the exports use now.
const ComRuntime& CurrentComRuntime();
// Installs runtime for every later call and returns the one it replaces.
ComRuntime ReplaceComRuntime(const ComRuntime& runtime);

// The firewall's classes and the interfaces the library asks them for. They
// are defined here rather than taken from the uuid library, so that the DLL
// carries them itself.
extern const CLSID kClsidNetFwMgr;
extern const IID kIidNetFwMgr;
extern const CLSID kClsidNetFwAuthorizedApplication;
extern const IID kIidNetFwAuthorizedApplication;
extern const CLSID kClsidNetFwOpenPort;
extern const IID kIidNetFwOpenPort;

}  // namespace fw

#endif  // FILEDIST_FIREWALL_WIN32_FIREWALL_COM_RUNTIME_H
