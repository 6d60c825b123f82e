#include "cli/packer_dir.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <random>
#include <system_error>

#include "cli/cli_platform.h"

namespace fs = std::filesystem;

namespace {

// True when a new file can be made in dir; *reason gets the system's words
// otherwise. The file is removed again.
bool TakesNewFiles(const std::string& dir, std::string* reason) {
  std::random_device seed;
  std::string probe = (fs::path(dir) / (".filedist-probe-" + std::to_string(seed()))).string();
  errno = 0;
  FILE* file = CreateNewFile(probe, false);
  if (file == nullptr) {
    *reason = errno != 0 ? std::strerror(errno) : "a new file cannot be made there";
    return false;
  }
  std::fclose(file);
  std::remove(probe.c_str());
  return true;
}

}  // namespace

bool ChoosePackerDir(const char* named, std::string* dir, std::string* error) {
  std::string reason;
  if (named == nullptr) {
    *dir = ProgramDirectory();
    if (dir->empty()) {
      *error =
          "cannot find the directory of the filedist program; name a packer directory "
          "with --packer DIR";
      return false;
    }
    if (TakesNewFiles(*dir, &reason)) return true;
    *error = "the program's folder '" + *dir + "' cannot be written (" + reason +
             "); a build reads Filters.ini and writes VerComp.dat, Ver and BuildVer.log in "
             "its packer directory: name a folder you can write with --packer DIR";
    return false;
  }
  std::error_code failure;
  fs::path absolute = fs::absolute(named, failure);
  if (failure || std::strlen(named) == 0) {
    *error = "--packer '" + std::string(named) + "' is not a usable folder name";
    return false;
  }
  absolute = absolute.lexically_normal();
  // "DIR/" names DIR: the library takes the directory without a separator.
  if (!absolute.has_filename() && absolute.has_relative_path()) absolute = absolute.parent_path();
  *dir = absolute.string();
  fs::create_directories(*dir, failure);
  if (!fs::is_directory(*dir, failure)) {
    *error = "the packer directory '" + *dir + "' (--packer) is not a folder and cannot be made";
    return false;
  }
  if (TakesNewFiles(*dir, &reason)) return true;
  *error = "the packer directory '" + *dir + "' (--packer) cannot be written (" + reason + ")";
  return false;
}
