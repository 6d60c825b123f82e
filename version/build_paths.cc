#include "version/build_paths.h"

#include "fileio/io_util.h"
#include "platform/platform.h"
#include "protocol/release_manifest.h"

const char kFiltersName[] = "Filters.ini";
const char kCompressTempName[] = "__CompressTemp__";

namespace {

std::string Child(const std::string& dir, const char* name) {
  return dir + plat::kPathSeparator + name;
}

}  // namespace

std::string TemporaryTreeIn(const std::string& outputDir) {
  return outputDir.empty() ? std::string() : Child(outputDir, kCompressTempName);
}

bool FitsPathBuffer(const std::string& path) { return path.size() < kPathBufferSize; }

void BuildPaths::Clear() { *this = BuildPaths(); }

void BuildPaths::SetSourceDirs(const std::string& startupDir, const std::string& sourceDir) {
  startup_dir_ = startupDir;
  source_dir_ = sourceDir;
  filters_file_ = Child(startup_dir_, kFiltersName);
  plain_list_ = Child(startup_dir_, kVersionListName);
  plain_key_ = Child(startup_dir_, kListKeyName);
}

void BuildPaths::SetOutputDir(const std::string& outputDir) {
  output_dir_ = outputDir;
  temporary_tree_ = TemporaryTreeIn(output_dir_);
  packed_list_ = Child(temporary_tree_, kVersionListName);
  packed_key_ = Child(temporary_tree_, kListKeyName);
}

void BuildPaths::SetPatchDir(const std::string& patchDir) {
  patch_dir_ = patchDir;
  patch_list_ = Child(patch_dir_, kVersionListName);
  patch_key_ = Child(patch_dir_, kListKeyName);
  patch_manifest_ = Child(patch_dir_, kManifestName);
}
