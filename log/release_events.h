// What a release build tells a host that watches it, beside the log file and
// the standard output lines. A host that sets an observer takes over those
// standard output lines: the filedist program shows a progress line on a
// terminal instead, and a summary at the end. Hosts of the exported
// functions set none and see the lines as they always have.
#ifndef FILEDIST_LOG_RELEASE_EVENTS_H
#define FILEDIST_LOG_RELEASE_EVENTS_H

#include <cstdint>
#include <string>

class ReleaseObserver {
 public:
  virtual ~ReleaseObserver() = default;
  // Every error and warning line, whatever the log level, with the system's
  // text for the failure behind it where there was one (else empty).
  virtual void Problem(int severity, const std::string& text, const std::string& reason) = 0;
  // A file the filters left out; lists is how many filter lists matched it
  // (the standard output names it once for each).
  virtual void FileExcluded(const std::string& lowerName, int lists) = 0;
  // A file keyed by the scan, with its size and key.
  virtual void FileKeyed(const std::string& path, uint64_t size, const std::string& key) = 0;
  // A file compressed into the temporary tree: its listed path, its size
  // before and after, and whether its compressed form was taken unchanged
  // from the earlier release.
  virtual void FileCompressed(const std::string& listedPath, uint64_t plainSize,
                              int32_t compressedSize, bool fromEarlier) = 0;
  // The patch directory is being filled.
  virtual void PatchStarted(const std::string& patchDir) = 0;
  // A binary patch kept for listedPath, from the earlier content with key
  // oldKey: its size against the compressed file's. Hosts of old did not
  // know of patches, hence the empty default.
  virtual void PatchMade(const std::string& listedPath, const std::string& oldKey,
                         uint64_t patchSize, uint64_t compressedSize) {
    (void)listedPath, (void)oldKey, (void)patchSize, (void)compressedSize;
  }
};

// The observer, or null (the standard output lines). Not owned.
void SetReleaseObserver(ReleaseObserver* observer);
ReleaseObserver* GetReleaseObserver();

#endif  // FILEDIST_LOG_RELEASE_EVENTS_H
