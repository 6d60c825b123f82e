// Loads a shared library the way a running program holds its libraries.
#ifndef FILEDIST_TESTS_HOLDER_LIBRARY_HOLD_H
#define FILEDIST_TESTS_HOLDER_LIBRARY_HOLD_H

#include <string>

// Loads the library at path for the rest of the process and gives the
// address of its export name; null when either cannot be had.
void* LoadLibraryExport(const std::string& path, const char* name);

// This process's id, as the system's process functions take it.
unsigned long OwnProcessId();

#endif  // FILEDIST_TESTS_HOLDER_LIBRARY_HOLD_H
