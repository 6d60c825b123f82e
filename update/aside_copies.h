// Installed files that another program held (a running program, a loaded
// library) and that were moved aside in their folder so that their new
// versions could take their names (fileio/aside_name.h). Each is recorded in
// the install folder's .filedist-aside before it is moved, so that whatever
// stops the run, a later one removes the copy once nothing holds it.
#ifndef FILEDIST_UPDATE_ASIDE_COPIES_H
#define FILEDIST_UPDATE_ASIDE_COPIES_H

#include <string>
#include <vector>

namespace update {

class AsideCopies {
 public:
  // temporary: a free name on the install folder's file system through
  // which the record is rewritten.
  AsideCopies(const std::string& installDir, const std::string& temporary);

  // Removes the recorded copies that nothing holds any more and keeps the
  // record of the others. False with *error when the record cannot be
  // rewritten (the copies it names are then removed by a later run).
  bool RemoveUnused(std::string* error);

  enum class MoveResult {
    kMoved,   // *aside names the copy; the target's name is free
    kHeld,    // held so that not even a rename can move it; nothing changed
    kFailed,  // *error says why; nothing changed
  };
  // Moves the file target (parts below the install folder) aside and
  // records it.
  MoveResult MoveAside(const std::string& target, const std::vector<std::string>& parts,
                       std::string* aside, std::string* error);

 private:
  std::vector<std::string> ReadRecord() const;
  bool WriteRecord(const std::vector<std::string>& paths, std::string* error) const;

  std::string install_dir_;
  std::string record_path_;
  std::string temporary_;
};

}  // namespace update

#endif  // FILEDIST_UPDATE_ASIDE_COPIES_H
