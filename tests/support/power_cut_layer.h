// A power cut, simulated under the platform's file calls (in the manner of
// LevelDB's fault-injection Env): installed as the platform's durability
// observer, the layer remembers for each file created while it is on what
// the disk is known to hold (its contents at its last flush) and, at Cut(),
// turns the files into what a machine would find after losing power then:
//
//   kPosix  (ext4 and the like, the POSIX back end): unflushed data is lost,
//           a file falls back to its contents at its last flush (empty when
//           never flushed); a file whose folder entry was not made durable
//           (fsync of the folder, or syncfs) since it was created vanishes.
//   kNtfs   (the Windows back end): names and sizes are journaled and kept,
//           unflushed data is not: the bytes written since the last flush
//           read as zeros, at the file's size.
//
// Files that existed before the layer was installed count as durable.
// Only what the back end reports as really flushed counts: on Windows,
// where SyncFileSystemOf cannot flush a volume, nothing is reported.
#ifndef FILEDIST_TESTS_SUPPORT_POWER_CUT_LAYER_H
#define FILEDIST_TESTS_SUPPORT_POWER_CUT_LAYER_H

#include <cstdio>
#include <map>
#include <mutex>
#include <string>

#include "platform/durability_observer.h"

class PowerCutLayer : public plat::DurabilityObserver {
 public:
  enum class Semantics { kPosix, kNtfs };

  // The semantics of the file system the built back end writes to.
  static Semantics OfThisBuild();

  // Installs itself; the destructor removes it.
  explicit PowerCutLayer(Semantics semantics);
  ~PowerCutLayer() override;
  PowerCutLayer(const PowerCutLayer&) = delete;
  PowerCutLayer& operator=(const PowerCutLayer&) = delete;

  // Drops from the disk what a power cut now would lose. Returns the number
  // of files it changed or removed. File calls must not run meanwhile.
  int Cut();

  void Created(const std::string& path, FILE* file) override;
  void FileSynced(FILE* file) override;
  void PathSynced(const std::string& path) override;
  void Renamed(const std::string& from, const std::string& to) override;
  void Removed(const std::string& path) override;
  void DirectorySynced(const std::string& dir) override;
  void FileSystemSynced(const std::string& dir) override;

 private:
  struct File {
    std::string durable;         // the contents at the last flush
    bool entry_durable = false;  // its name survives a cut
  };
  void MarkDurable(const std::string& key, File* file);

  Semantics semantics_;
  std::mutex lock_;
  std::map<std::string, File> files_;  // by path, separators made '/'
  std::map<FILE*, std::string> open_;  // files created, by their stream
};

#endif  // FILEDIST_TESTS_SUPPORT_POWER_CUT_LAYER_H
