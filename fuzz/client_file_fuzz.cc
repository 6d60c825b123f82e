// MakeClientFile on an arbitrary fetched file. A gzip file (all its members)
// must decode to what zlib decodes from it in one piece, anything else is
// copied as it is, and a call that fails must leave the old client file as it
// was (contents and read-only state) with no temporary file beside it.
#include <dirent.h>
#include <sys/stat.h>

#include <cstdint>
#include <string>

#include "common.h"
#include "fuzz/fuzz_support.h"
#include "fuzz/gzip_oracle.h"

namespace {

const char kOldTarget[] = "the client's working copy";

bool IsWritable(const std::string& path) {
  struct stat st;
  return stat(path.c_str(), &st) == 0 && (st.st_mode & S_IWUSR) != 0;
}

// The names in folder other than "." and "..".
int EntriesIn(const std::string& folder) {
  DIR* dir = opendir(folder.c_str());
  if (dir == nullptr) return -1;
  int count = 0;
  while (struct dirent* entry = readdir(dir)) {
    std::string name = entry->d_name;
    if (name != "." && name != "..") ++count;
  }
  closedir(dir);
  return count;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static const std::string source = fuzz::ScratchPath("fetched.gz");
  static const std::string folder = fuzz::ScratchPath("client");
  static const std::string target = folder + "/app.bin";
  mkdir(folder.c_str(), 0700);
  fuzz::WriteBytes(source, data, size);
  fuzz::RemoveIfPresent(target);
  fuzz::WriteBytes(target, std::string(kOldTarget));
  // Half the runs replace a read-only client file.
  bool readOnly = size % 2 == 1;
  if (readOnly) chmod(target.c_str(), 0400);

  int result = MakeClientFile(source.c_str(), target.c_str());
  FUZZ_CHECK(result == 0 || result == 1);
  FUZZ_CHECK(EntriesIn(folder) == 1);
  std::string placed;
  FUZZ_CHECK(fuzz::ReadBytes(target, &placed));

  if (result == 0) {
    FUZZ_CHECK(placed == kOldTarget);
    FUZZ_CHECK(IsWritable(target) == !readOnly);
  }
  bool gzip = size >= 2 && data[0] == 0x1f && data[1] == 0x8b;
  if (!gzip) {
    // Plain data is copied; only a failing disk could stop that.
    FUZZ_CHECK(result == 1);
    FUZZ_CHECK(placed == std::string(reinterpret_cast<const char*>(data), size));
    return 0;
  }
  std::string expected;
  bool decodes = fuzz::ZlibMembers(data, size, &expected);
  FUZZ_CHECK(result == (decodes ? 1 : 0));
  if (decodes) FUZZ_CHECK(placed == expected);
  return 0;
}
