// A program that holds files of an install folder the way an application
// being updated does, for the tests of updates that meet files in use:
//
//   in_use_holder READY SIGNAL [--library PATH] [--open PATH]
//
// --library loads the project's shared library from PATH; --open keeps PATH
// open for reading, as a program keeps a document open. Run from inside the
// install folder, the program's own file is held as well. Once it holds
// everything it writes READY (its process id in it), then waits until
// SIGNAL exists. Before it
// exits it calls MakeDirTree through the library it loaded, so that its exit
// status tells whether the image it started with still works after the
// update: 0 when it does, 1 when something could not be held, 2 on bad use.
#include <chrono>
#include <cstdio>
#include <cstring>
#include <string>
#include <thread>

#include "holder/library_hold.h"

namespace {

bool Exists(const std::string& path) {
  FILE* file = std::fopen(path.c_str(), "rb");
  if (file == nullptr) return false;
  std::fclose(file);
  return true;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 3) return 2;
  std::string ready = argv[1];
  std::string signal = argv[2];
  using MakeDirTreeFunction = int (*)(const char*);
  MakeDirTreeFunction make_dir_tree = nullptr;
  FILE* held = nullptr;
  for (int i = 3; i + 1 < argc; i += 2) {
    if (std::strcmp(argv[i], "--library") == 0) {
      make_dir_tree =
          reinterpret_cast<MakeDirTreeFunction>(LoadLibraryExport(argv[i + 1], "MakeDirTree"));
      if (make_dir_tree == nullptr) return 1;
    } else if (std::strcmp(argv[i], "--open") == 0) {
      held = std::fopen(argv[i + 1], "rb");
      if (held == nullptr) return 1;
    } else {
      return 2;
    }
  }
  // READY holds the holder's process id, for a test that waits for it.
  FILE* out = std::fopen(ready.c_str(), "wb");
  if (out == nullptr) return 1;
  std::fprintf(out, "%lu\n", OwnProcessId());
  std::fclose(out);
  // Bounded, so that a test that never signals cannot leave it behind.
  for (int waited = 0; !Exists(signal); ++waited) {
    if (waited == 3000) return 1;
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
  }
  if (held != nullptr) std::fclose(held);
  // MakeDirTree answers 1 for a directory that exists: the one READY is in.
  size_t cut = ready.find_last_of("/\\");
  std::string dir = cut == std::string::npos ? std::string(".") : ready.substr(0, cut);
  if (make_dir_tree != nullptr && make_dir_tree(dir.c_str()) != 1) return 1;
  return 0;
}
