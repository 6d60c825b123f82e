#include "cli/http_download.h"

bool HttpDownload(const std::string&, const std::string&, const ByteProgress&, std::string* error) {
  *error = "this filedist was built without HTTP support; give a folder or a UNC path";
  return false;
}

bool HttpDownloadTo(const std::string&, const BodySink&, std::string* error) {
  *error = "this filedist was built without HTTP support; give a folder or a UNC path";
  return false;
}
