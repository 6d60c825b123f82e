#include "platform/platform.h"

namespace plat {

size_t FindLastSeparator(const std::string& path) { return path.find_last_of("\\/"); }

}  // namespace plat
