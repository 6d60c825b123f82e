#include <windows.h>

#include "holder/library_hold.h"

void* LoadLibraryExport(const std::string& path, const char* name) {
  HMODULE module = LoadLibraryA(path.c_str());
  if (module == nullptr) return nullptr;
  return reinterpret_cast<void*>(GetProcAddress(module, name));
}

unsigned long OwnProcessId() { return GetCurrentProcessId(); }
