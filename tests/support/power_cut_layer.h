// A power cut, simulated under the platform's file calls (in the manner of
// LevelDB's fault-injection Env): installed as the platform's durability
// observer, the layer remembers for each file created while it is on what
// the disk is known to hold (its contents at its last flush) and, at Cut(),
// turns the files into what a machine would find after losing power then:
//
//   kPosix  (ext4 and the like, the POSIX back end): unflushed data is lost,
//           a file falls back to its contents at its last flush (empty when
//           never flushed); creations and renames whose target folder was
//           not flushed since (fsync of the folder, or syncfs) are undone,
//           latest first: a created file vanishes, a renamed one goes back
//           to its old name and the file it replaced comes back.
//   kNtfs   (the Windows back end): names and sizes are journaled and kept,
//           unflushed data is not: the bytes written since the last flush
//           read as zeros, at the file's size.
//
// Files that existed below root when the layer was installed count as
// durable; so does a file from elsewhere that is renamed in.
// Only what the back end reports as really flushed counts: on Windows,
// where SyncFileSystemOf cannot flush a volume, nothing is reported.
#ifndef FILEDIST_TESTS_SUPPORT_POWER_CUT_LAYER_H
#define FILEDIST_TESTS_SUPPORT_POWER_CUT_LAYER_H

#include <cstdio>
#include <map>
#include <mutex>
#include <string>
#include <vector>

#include "platform/durability_observer.h"

class PowerCutLayer : public plat::DurabilityObserver {
 public:
  enum class Semantics { kPosix, kNtfs };

  // The semantics of the file system the built back end writes to.
  static Semantics OfThisBuild();

  // Installs itself, with what lies below root as it is now durable; the
  // destructor removes it.
  PowerCutLayer(Semantics semantics, const std::string& root);
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
    std::string durable;  // the contents at the last flush
  };
  // A change of names that a cut may undo (POSIX only).
  struct NameChange {
    std::string from;  // empty for a creation
    std::string to;
    bool durable = false;   // its folder was flushed since
    bool replaced = false;  // a file was at to before
    File replaced_file;
  };
  void MarkDurable(const std::string& key, File* file);
  void Snapshot(const std::string& dir);
  void UndoNameChanges();

  Semantics semantics_;
  std::mutex lock_;
  std::map<std::string, File> files_;  // by path, separators made '/'
  std::map<FILE*, std::string> open_;  // files created, by their stream
  std::vector<NameChange> changes_;    // in the order they were made
};

#endif  // FILEDIST_TESTS_SUPPORT_POWER_CUT_LAYER_H
