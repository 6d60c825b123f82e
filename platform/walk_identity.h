// What a path leads to, following links, told apart by the file system's own
// identity (device and inode; volume serial and file index). A scan walks a
// link to a directory as that directory, and uses the identity to see a link
// that leads back into a directory it is walking, which would never end.
#ifndef FILEDIST_PLATFORM_WALK_IDENTITY_H
#define FILEDIST_PLATFORM_WALK_IDENTITY_H

#include <cstdint>
#include <string>

namespace plat {

struct WalkIdentity {
  uint64_t volume = 0;
  uint64_t index = 0;
  bool directory = false;

  bool SameEntry(const WalkIdentity& other) const {
    return volume == other.volume && index == other.index;
  }
};

// Identifies what path leads to, through any links. False when it leads
// nowhere (a link whose target is gone) or cannot be reached.
bool IdentifyFollowingLinks(const std::string& path, WalkIdentity* identity);

}  // namespace plat

#endif  // FILEDIST_PLATFORM_WALK_IDENTITY_H
