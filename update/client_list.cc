#include "update/client_list.h"

#include "fileio/replacement_file.h"
#include "platform/file_safety.h"
#include "platform/platform.h"
#include "update/fault_point.h"
#include "version/version_list.h"

namespace update {

bool ReadInstalledList(const std::string& path, VersionRecordList* records, std::string* error) {
  records->clear();
  if (!plat::PathExists(path.c_str()) && !plat::IsLinkEntry(path)) return true;
  PathIndex index;
  if (ReadVersionList(path.c_str(), records, &index)) return true;
  *error = "cannot read the version list '" + path + "'";
  return false;
}

bool WriteInstalledList(const std::string& path, const std::string& temporary,
                        const VersionRecordList& records, std::string* error) {
  std::string text;
  for (const VersionRecord& record : records) {
    text += FormatVersionLine(record);
    text += "\r\n";
  }
  if (ReplaceFileDurably(path, temporary, text, FaultPoint, error)) return true;
  *error = "cannot write the version list '" + path + "': " + *error;
  return false;
}

}  // namespace update
