// The number of the signed release an install folder holds, kept in
// .filedist-release as the line "sequence N", so that an older release
// served again (to take clients back to a known fault, or to keep them from
// a fix) is refused.
#ifndef FILEDIST_UPDATE_RELEASE_STATE_H
#define FILEDIST_UPDATE_RELEASE_STATE_H

#include <cstdint>
#include <string>

namespace update {

enum class ReleaseState {
  kNone,     // no signed release installed yet
  kRead,     // *sequence holds its number
  kDamaged,  // the file is there but not one this updater wrote
};

ReleaseState ReadReleaseState(const std::string& installDir, uint64_t* sequence);

// Records sequence durably; temporary is a free name on the same file
// system. False with *error set.
bool WriteReleaseState(const std::string& installDir, const std::string& temporary,
                       uint64_t sequence, std::string* error);

}  // namespace update

#endif  // FILEDIST_UPDATE_RELEASE_STATE_H
