// A seam under the file calls that decide what survives a power cut, for
// the power-loss tests alone: they install an observer that remembers what
// was written since each file's last flush and, at a simulated cut, drops
// it. The back ends tell the observer only what they really did: a flush
// that this system does not have (syncfs on Windows) is never reported.
// Normal runs install nothing; then each call costs one load of a pointer.
#ifndef FILEDIST_PLATFORM_DURABILITY_OBSERVER_H
#define FILEDIST_PLATFORM_DURABILITY_OBSERVER_H

#include <cstdio>
#include <string>

namespace plat {

class DurabilityObserver {
 public:
  virtual ~DurabilityObserver() = default;
  // A new file was created at path and is open as file.
  virtual void Created(const std::string& path, FILE* file) = 0;
  // The data of the open file reached the disk.
  virtual void FileSynced(FILE* file) = 0;
  // The data of the file at path reached the disk.
  virtual void PathSynced(const std::string& path) = 0;
  // from was renamed to to, replacing what was there.
  virtual void Renamed(const std::string& from, const std::string& to) = 0;
  // The file at path was removed.
  virtual void Removed(const std::string& path) = 0;
  // The entries of the folder dir reached the disk.
  virtual void DirectorySynced(const std::string& dir) = 0;
  // Every file and entry of the file system that holds dir reached the disk.
  virtual void FileSystemSynced(const std::string& dir) = 0;
};

// Installs observer (nullptr removes it). Not thread-safe against running
// file calls: set before they start.
void SetDurabilityObserver(DurabilityObserver* observer);

// The installed observer, or nullptr.
DurabilityObserver* CurrentDurabilityObserver();

}  // namespace plat

#endif  // FILEDIST_PLATFORM_DURABILITY_OBSERVER_H
