#include "transport/http_transport.h"

std::unique_ptr<HttpTransport> MakeHttpTransport(const TransportOptions&, std::string* error) {
  *error = "this filedist was built without HTTP support; give a folder or a UNC path";
  return nullptr;
}
