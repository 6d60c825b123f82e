// filedist build SOURCE: a release of a folder, through BuildVer.
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <random>
#include <filesystem>
#include <string>
#include <system_error>

#include "cli/build_report.h"
#include "cli/cli_commands.h"
#include "cli/command_line.h"
#include "cli/json_output.h"
#include "cli/cli_platform.h"
#include "common.h"
#include "signing/bounded_file.h"
#include "signing/ed25519.h"
#include "signing/key_files.h"
#include "signing/patch_index.h"
#include "signing/release_manifest.h"

namespace {

const char kUsage[] =
    "usage: filedist build SOURCE [--out DIR] [--releases DIR] [--sign KEYFILE]\n"
    "                      [--delta-window K] [--log-level N] [--verbose] [--json]\n"
    "\n"
    "Builds a release of the folder SOURCE: every file that Filters.ini does not\n"
    "exclude is keyed (MD5) and gzip-compressed into a new directory\n"
    "RELEASES/Patch_YYYYMMDD_HHMMSS together with the compressed version list\n"
    "VerComp.dat, its key file Ver and the Manifest (SHA-256 digest, sizes and\n"
    "execute bit of every file, a sequence number one above the newest in\n"
    "RELEASES), and names that directory in RELEASES/LATEST\n"
    "(which 'filedist update RELEASES' follows). A summary follows; the last line printed\n"
    "is that directory. Errors and warnings go to standard error whatever the\n"
    "log level. Only one build at a time may use a packer directory or a\n"
    "release folder; a second one stops at once.\n"
    "\n"
    "filedist works from the directory its own program file lies in (its\n"
    "startup directory): it reads Filters.ini there, writes the plain\n"
    "VerComp.dat, Ver and the log BuildVer.log there. Copy filedist into a\n"
    "packer directory of your own, with a Filters.ini if you want one, and\n"
    "keep that directory outside SOURCE: whatever lies in SOURCE is released,\n"
    "except the temporary tree and the Patch_* directories of --out and\n"
    "--releases.\n"
    "\n"
    "  --out DIR        where the temporary tree __CompressTemp__ is made; it is\n"
    "                   removed after a successful build and kept after a failed\n"
    "                   one (default: the startup directory)\n"
    "  --releases DIR   where the Patch_* directory is made\n"
    "                   (default: the folder 'releases' in the startup directory)\n"
    "  --sign KEYFILE   sign the Manifest with the private key KEYFILE (made by\n"
    "                   'filedist keygen') into Manifest.sig, before LATEST\n"
    "                   names the release; clients that trust the public key\n"
    "                   install nothing that is not signed\n"
    "  --delta-window K binary patches from the newest K earlier releases in\n"
    "                   RELEASES (default 3; 0 makes none): each changed file\n"
    "                   gets one from every earlier content of its path there,\n"
    "                   kept where it is at most 0.9 of the compressed file,\n"
    "                   in Patches/, described in PatchIndex (signed with\n"
    "                   --sign into PatchIndex.sig); clients that do not use\n"
    "                   patches fetch whole files as before\n"
    "  --log-level N    what BuildVer.log receives: 0 nothing, 1 errors (default),\n"
    "                   2 warnings, 3 every file, 4 everything\n"
    "  --verbose        a line per file also on a terminal, where a progress line\n"
    "                   takes their place otherwise\n"
    "  --json           print one JSON document on standard output and nothing\n"
    "                   else there: the summary and the patch directory (the\n"
    "                   shape is described in the README); errors and warnings\n"
    "                   still go to standard error\n"
    "\n"
    "SOURCE, --out and --releases are taken relative to the current directory.\n"
    "Filters.ini holds sections [Ext], [File] and [Keyword], each with one line of\n"
    "entries separated by ';'; a file whose lowercased name contains an entry\n"
    "is left out. Example:\n"
    "  [Ext]\n"
    "  .pdb;.bak\n"
    "\n"
    "Exit status: 0 on success, 1 when the build failed, 2 on a usage error.\n";


// The library takes relative paths against its startup directory; a user
// means the current one.
std::string Absolute(const char* path) {
  std::error_code error;
  std::filesystem::path absolute = std::filesystem::absolute(path, error);
  return error ? std::string(path) : absolute.lexically_normal().string();
}

bool IsDirectory(const std::string& path) {
  std::error_code error;
  return std::filesystem::is_directory(path, error);
}

// RELEASES/LATEST names the newest patch directory, so that clients can be
// pointed once at the releases folder. Written beside and renamed over, so a
// client reads the old name or the new one, never half of one.
bool WriteLatest(const std::string& patch_dir, std::string* error) {
  std::filesystem::path patch(patch_dir);
  std::string name = patch.filename().string();
  std::string latest = (patch.parent_path() / "LATEST").string();
  std::random_device seed;
  std::string temporary = latest + "." + std::to_string(seed()) + ".tmp";
  FILE* file = std::fopen(temporary.c_str(), "wbx");
  if (file == nullptr) {
    *error = "cannot write '" + temporary + "': " + std::strerror(errno);
    return false;
  }
  std::string line = name + "\n";
  bool written = std::fwrite(line.data(), 1, line.size(), file) == line.size();
  written = std::fclose(file) == 0 && written;
  if (!written || !RenameOver(temporary, latest)) {
    *error = "cannot write '" + latest + "': " + std::strerror(errno);
    std::remove(temporary.c_str());
    return false;
  }
  return true;
}

// The signature file signature_name beside the file name of patch_dir.
bool SignFile(const std::string& patch_dir, const char* name, const char* signature_name,
              size_t limit, const Ed25519PrivateKey& key, std::string* error) {
  std::filesystem::path patch(patch_dir);
  std::string manifest_path = (patch / name).string();
  std::string signature_path = (patch / signature_name).string();
  std::string manifest;
  if (!ReadBoundedFile(manifest_path.c_str(), limit, &manifest)) {
    *error = "cannot read '" + manifest_path + "'";
    return false;
  }
  Ed25519Signature signature;
  if (!SignEd25519(key, manifest, &signature)) {
    *error = std::string("the ") + name + " could not be signed";
    return false;
  }
  std::string text = FormatSignatureFile(signature);
  FILE* file = CreateNewFile(signature_path, false);
  bool written = file != nullptr && std::fwrite(text.data(), 1, text.size(), file) == text.size();
  if (file != nullptr) written = std::fclose(file) == 0 && written;
  if (!written) {
    *error = "cannot write '" + signature_path + "': " + std::strerror(errno);
    if (file != nullptr) std::remove(signature_path.c_str());
    return false;
  }
  return true;
}

// Manifest.sig beside the Manifest of patch_dir, and PatchIndex.sig beside
// its patch index where it has one.
bool SignRelease(const std::string& patch_dir, const Ed25519PrivateKey& key, std::string* error) {
  if (!SignFile(patch_dir, kManifestName, kManifestSignatureName, kManifestSizeLimit, key, error)) {
    return false;
  }
  std::error_code missing;
  if (!std::filesystem::exists(std::filesystem::path(patch_dir) / kPatchIndexName, missing)) {
    return true;
  }
  return SignFile(patch_dir, kPatchIndexName, kPatchIndexSignatureName, kPatchIndexSizeLimit, key,
                  error);
}

// The --json document: the summary as far as the build got; patch_dir is
// empty when no release was made.
Json BuildDocument(const std::string& source_dir, const std::string& patch_dir, bool signed_ok,
                   bool latest, const BuildReport& report) {
  BuildSummary summary = report.Summary();
  Json doc = JsonDocument("build");
  doc["source"] = source_dir;
  doc["patch_dir"] = patch_dir.empty() ? Json(nullptr) : Json(patch_dir);
  doc["signed"] = signed_ok;
  doc["latest"] = latest;
  doc["released"] = summary.released;
  doc["excluded"] = summary.excluded;
  doc["unchanged"] = summary.unchanged;
  doc["bytes"] = summary.bytes;
  doc["compressed_bytes"] = summary.compressed_bytes;
  doc["patches"] = summary.patches;
  doc["patch_bytes"] = summary.patch_bytes;
  doc["patched_compressed_bytes"] = summary.patched_bytes;
  doc["seconds"] = summary.seconds;
  doc["problems"] = report.problems();
  return doc;
}

bool ParseLogLevel(const char* text, int* level) {
  char* end = nullptr;
  long value = std::strtol(text, &end, 10);
  if (end == text || *end != '\0' || value < 0 || value > 4) return false;
  *level = static_cast<int>(value);
  return true;
}

bool ParseWindow(const char* text, int* window) {
  char* end = nullptr;
  long value = std::strtol(text, &end, 10);
  if (end == text || *end != '\0' || value < 0 || value > 100) return false;
  *window = static_cast<int>(value);
  return true;
}

}  // namespace

int RunBuildCommand(int argc, char** argv) {
  CommandLine line(kUsage, {{"out", true}, {"releases", true}, {"log-level", true},
                            {"verbose", false}, {"sign", true}, {"json", false},
                            {"delta-window", true}});
  if (int status = line.Parse(argc, argv); status >= 0) return status;
  if (line.operands().empty()) return line.UsageError("SOURCE is missing");
  if (line.operands().size() > 1) return line.UsageError("only one SOURCE may be given");
  const char* source = line.operands()[0].c_str();
  std::string output = line.Has("out") ? Absolute(line.Value("out")) : ".";
  std::string releases = line.Has("releases") ? Absolute(line.Value("releases")) : "releases";
  int log_level = 1;
  if (line.Has("log-level") && !ParseLogLevel(line.Value("log-level"), &log_level)) {
    return line.UsageError("--log-level takes a number from 0 to 4");
  }
  int delta_window = -1;  // the library's default
  if (line.Has("delta-window") && !ParseWindow(line.Value("delta-window"), &delta_window)) {
    return line.UsageError("--delta-window takes a number from 0 to 100");
  }
  const bool verbose = line.Has("verbose");
  const bool json = line.Has("json");
  const std::string sign_key_file = line.Value("sign", "");
  std::string source_dir = Absolute(source);
  BuildReport::Display display = json ? BuildReport::Display::kNone
                                 : !verbose && IsTerminal(stderr) ? BuildReport::Display::kProgress
                                                                  : BuildReport::Display::kLines;
  BuildReport report(display);
  // Every way out after this: the reason on standard error, and then the
  // summary as far as it goes, as text or as the JSON document.
  auto finish = [&](const std::string& failure, const std::string& patch_dir, bool signed_ok,
                    bool latest) {
    if (!failure.empty()) std::fprintf(stderr, "filedist: %s\n", failure.c_str());
    if (json) {
      Json doc = BuildDocument(source_dir, patch_dir, signed_ok, latest, report);
      if (!failure.empty()) SetJsonFailure(&doc, failure);
      PrintJson(doc);
    } else if (!patch_dir.empty()) {
      report.PrintSummary(patch_dir);
    }
    return failure.empty() ? 0 : 1;
  };

  // A key that cannot be used is found before anything is built.
  Ed25519PrivateKey sign_key;
  if (!sign_key_file.empty() && !ReadPrivateKeyFile(sign_key_file.c_str(), &sign_key)) {
    return finish("'" + sign_key_file + "' is not a readable private key file (filedist keygen)",
                  "", false, false);
  }
  SetLogLevel(log_level);
  WatchReleaseBuilds(&report);
  if (delta_window >= 0) SetReleasePatchWindow(delta_window);
  char patch_dir[1024] = {};
  int built = BuildVer(source_dir.c_str(), output.c_str(), releases.c_str(), patch_dir);
  WatchReleaseBuilds(nullptr);
  report.Finish();
  std::fflush(stdout);
  if (!built) {
    if (!IsDirectory(source_dir)) {
      return finish("build failed: source folder '" + source_dir + "' does not exist", "", false,
                    false);
    }
    if (report.errors() == 0 && !IsDirectory(output)) {
      // The library names no reason for this one.
      return finish("build failed: the folder '" + output +
                    "' for the temporary tree cannot be made", "", false, false);
    }
    return finish("build failed; nothing was released", "", false, false);
  }
  std::string error;
  const bool signing = !sign_key_file.empty();
  if (signing) {
    bool signed_ok = SignRelease(patch_dir, sign_key, &error);
    sign_key.fill(0);
    if (!signed_ok) {
      // LATEST keeps naming the last good release: clients that trust the
      // key would refuse this one.
      return finish("the release is built, but not signed: " + error + "; LATEST was not updated",
                    patch_dir, false, false);
    }
  }
  if (!WriteLatest(patch_dir, &error)) {
    // The release itself is whole; only the pointer to it is missing.
    return finish("the release is built, but LATEST was not updated: " + error, patch_dir, signing,
                  false);
  }
  return finish("", patch_dir, signing, true);
}
