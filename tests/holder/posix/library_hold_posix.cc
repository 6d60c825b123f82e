#include <dlfcn.h>
#include <unistd.h>

#include "holder/library_hold.h"

void* LoadLibraryExport(const std::string& path, const char* name) {
  void* library = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
  if (library == nullptr) return nullptr;
  return dlsym(library, name);
}

unsigned long OwnProcessId() { return static_cast<unsigned long>(getpid()); }
