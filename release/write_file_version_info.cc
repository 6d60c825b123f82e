// Release stage 3: the version list and its key file, plain in the startup
// directory and compressed in the temporary tree.
#include <cstdio>
#include <string>

#include "fileio/file_key.h"
#include "fileio/gzip_compress.h"
#include "fileio/io_util.h"
#include "log/logger.h"
#include "platform/platform.h"
#include "version/file_version.h"
#include "version/version_list.h"

namespace {

const char* const kStage = "CFileVersion::WriteFileVersionInfo";

// Every path handed to the file functions must fit a path buffer.
bool CompressInto(const std::string& src, const std::string& dst) {
  if (!FitsPathBuffer(src) || !FitsPathBuffer(dst) ||
      IOUtil_CompressFile(src.c_str(), dst.c_str()) < 0) {
    SystemReason reason = LastSystemReason();
    LogError() << reason << "IOUtil_CompressFile from [" << src << "] to [" << dst << "] failed.";
    return false;
  }
  return true;
}

// The key file: 32 digits and a Windows line end, the same bytes on every
// system.
bool WriteKeyFile(const std::string& path, const char* key) {
  FILE* file = FitsPathBuffer(path) ? plat::OpenFile(path.c_str(), "wb") : nullptr;
  if (file == nullptr) {
    SystemReason reason = LastSystemReason();
    LogError() << reason << "Open file [" << path << "] failed in [" << kStage << "]";
    return false;
  }
  std::string line = std::string(key) + "\r\n";
  bool written = std::fwrite(line.data(), 1, line.size(), file) == line.size();
  written = std::fclose(file) == 0 && written;
  if (!written) {
    SystemReason reason = LastSystemReason();
    LogError() << reason << "Write file [" << path << "] failed in [" << kStage << "]";
    return false;
  }
  return true;
}

}  // namespace

int CFileVersion::WriteFileVersionInfo() {
  if (m_scanList.empty()) {
    LogError() << "File List is empty in [" << kStage << "]";
    return 0;
  }
  const std::string& list_path = m_paths.plain_list();
  const std::string& key_path = m_paths.plain_key();

  if (!FitsPathBuffer(list_path) || !Data2File(list_path.c_str(), m_scanList)) {
    SystemReason reason = LastSystemReason();
    LogError() << reason << "Data2File failed for [" << list_path << "] in [" << kStage << "]";
    return 0;
  }
  if (!CompressInto(list_path, m_paths.packed_list())) return 0;

  char key[kFileKeySize] = {};
  ComputeFileKey(list_path.c_str(), key);
  if (!WriteKeyFile(key_path, key)) return 0;
  if (!CompressInto(key_path, m_paths.packed_key())) return 0;
  return 1;
}
