// The directories of a release build and the paths that hang off them. Each
// path is joined here, once, when the build learns the directory it hangs
// off; the stages and BuildVer only read them. A path is kept even when it
// would not fit a path buffer: the stage that uses it checks, and reports the
// failure in its own words.
#ifndef FILEDIST_VERSION_BUILD_PATHS_H
#define FILEDIST_VERSION_BUILD_PATHS_H

#include <string>

// The filter rules in the startup directory.
extern const char kFiltersName[];
// The temporary tree in the output directory that the files are compressed
// into and the patch directory is filled from.
extern const char kCompressTempName[];

// The temporary tree of a build whose output directory is outputDir (as
// resolved against the startup directory); empty for an empty outputDir.
std::string TemporaryTreeIn(const std::string& outputDir);

// True when path fits one of the library's path buffers, terminator included.
bool FitsPathBuffer(const std::string& path);

class BuildPaths {
 public:
  // Forgets every directory and every path made from them.
  void Clear();

  // Stage 1: the startup directory (where the host program lies, without a
  // trailing separator) and the source directory, both resolved.
  void SetSourceDirs(const std::string& startupDir, const std::string& sourceDir);
  // Stage 2: the output directory, resolved.
  void SetOutputDir(const std::string& outputDir);
  // Stage 4: the patch directory it made.
  void SetPatchDir(const std::string& patchDir);

  const std::string& startup_dir() const { return startup_dir_; }
  const std::string& source_dir() const { return source_dir_; }
  const std::string& output_dir() const { return output_dir_; }
  const std::string& temporary_tree() const { return temporary_tree_; }
  const std::string& patch_dir() const { return patch_dir_; }

  // In the startup directory: the filters, and the plain version list and
  // key file that stage 3 writes.
  const std::string& filters_file() const { return filters_file_; }
  const std::string& plain_list() const { return plain_list_; }
  const std::string& plain_key() const { return plain_key_; }
  // Their compressed forms in the temporary tree (stage 3) and in the patch
  // directory (stage 4).
  const std::string& packed_list() const { return packed_list_; }
  const std::string& packed_key() const { return packed_key_; }
  const std::string& patch_list() const { return patch_list_; }
  const std::string& patch_key() const { return patch_key_; }
  // The release's manifest beside them.
  const std::string& patch_manifest() const { return patch_manifest_; }

 private:
  std::string startup_dir_;
  std::string source_dir_;
  std::string output_dir_;
  std::string patch_dir_;
  std::string filters_file_;
  std::string plain_list_;
  std::string plain_key_;
  std::string temporary_tree_;
  std::string packed_list_;
  std::string packed_key_;
  std::string patch_list_;
  std::string patch_key_;
  std::string patch_manifest_;
};

#endif  // FILEDIST_VERSION_BUILD_PATHS_H
