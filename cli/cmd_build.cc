// filedist build SOURCE: a release of a folder, through BuildVer.
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <functional>
#include <string>
#include <system_error>

#include "cli/build_report.h"
#include "cli/cli_commands.h"
#include "cli/command_line.h"
#include "cli/json_output.h"
#include "cli/packer_dir.h"
#include "cli/pointer_signer.h"
#include "cli/cli_platform.h"
#include "common.h"
#include "protocol/channel_pointer.h"
#include "release/release_publish.h"
#include "release/signing_practice.h"
#include "signing/ed25519.h"
#include "signing/key_files.h"
#include "signing/release_signature.h"

namespace {

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

// Names the release in its channel's pointer, signed with key where it is
// set.
bool PublishBuiltRelease(const std::string& patch_dir, const std::string& channel, int rollout,
                         int expires, const Ed25519PrivateKey* key, std::string* error) {
  std::filesystem::path patch(patch_dir);
  std::function<bool(const std::string&, std::string*)> signer;
  if (key != nullptr) signer = PointerSigner(*key);
  uint64_t sequence = 0;
  return PublishReleaseChannel(patch.parent_path().string(), channel, patch.filename().string(),
                               rollout, expires, signer, &sequence, error);
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

}  // namespace

int RunBuildCommand(int argc, char** argv) {
  CommandLine line("build");
  if (int status = line.Parse(argc, argv); status >= 0) return status;
  if (line.operands().empty()) return line.UsageError("SOURCE is missing");
  if (line.operands().size() > 1) return line.UsageError("only one SOURCE may be given");
  const char* source = line.operands()[0].c_str();
  std::string output = line.Has("out") ? Absolute(line.Value("out")) : ".";
  std::string releases = line.Has("releases") ? Absolute(line.Value("releases")) : "releases";
  int log_level = 1;
  if (line.Has("log-level") && !ParseCount(line.Value("log-level"), 0, 4, &log_level)) {
    return line.UsageError("--log-level takes a number from 0 to 4");
  }
  int delta_window = -1;  // the library's default
  if (line.Has("delta-window") && !ParseCount(line.Value("delta-window"), 0, 100, &delta_window)) {
    return line.UsageError("--delta-window takes a number from 0 to 100");
  }
  const bool verbose = line.Has("verbose");
  const bool json = line.Has("json");
  const bool quiet = line.Has("quiet");
  if (quiet && verbose) return line.UsageError("--quiet and --verbose do not go together");
  const std::string sign_key_file = line.Value("sign", "");
  const std::string channel = line.Value("channel", kDefaultChannel);
  if (!IsChannelName(channel)) {
    return line.UsageError("--channel takes a name of letters, digits, '-' and '_'");
  }
  int rollout = 100;
  if (line.Has("rollout") && !ParseCount(line.Value("rollout"), 0, 100, &rollout)) {
    return line.UsageError("--rollout takes a percentage from 0 to 100");
  }
  int expires = -1;
  if (line.Has("expires")) {
    if (!line.Has("sign")) return line.UsageError("--expires goes with --sign");
    if (!ParseCount(line.Value("expires"), 1, 36500, &expires)) {
      return line.UsageError("--expires takes a number of days from 1 to 36500");
    }
  }
  std::string source_dir = Absolute(source);
  BuildReport::Display display = json || quiet                    ? BuildReport::Display::kNone
                                 : !verbose && IsTerminal(stderr) ? BuildReport::Display::kProgress
                                                                  : BuildReport::Display::kLines;
  BuildReport report(display,
                     display == BuildReport::Display::kProgress && TerminalTakesEscapes(stderr));
  // Every way out after this: the reason on standard error, and then the
  // summary as far as it goes, as text or as the JSON document.
  auto finish = [&](const std::string& failure, const std::string& patch_dir, bool signed_ok,
                    bool latest) {
    if (!failure.empty()) std::fprintf(stderr, "filedist: %s\n", failure.c_str());
    if (json) {
      Json doc = BuildDocument(source_dir, patch_dir, signed_ok, latest, report);
      if (!failure.empty()) SetJsonFailure(&doc, failure);
      PrintJson(doc);
    } else if (!patch_dir.empty() && quiet) {
      // Scripts still learn where the release went.
      std::printf("%s\n", patch_dir.c_str());
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
  // Before the log opens: it lies in the packer directory.
  std::string packer;
  std::string packer_error;
  if (!ChoosePackerDir(line.Value("packer"), &packer, &packer_error)) {
    return finish(packer_error, "", false, false);
  }
  if (!sign_key_file.empty() && line.Has("unsigned")) {
    return line.UsageError("--sign and --unsigned do not go together");
  }
  if (sign_key_file.empty() && !line.Has("unsigned")) {
    // The default folder is the packer directory's, as the build takes it.
    const std::string folder =
        line.Has("releases") ? releases : (std::filesystem::path(packer) / releases).string();
    if (ReleaseFolderIsSigned(folder)) {
      return finish("the releases in '" + folder +
                        "' are signed: give --sign KEYFILE, or --unsigned to publish this one "
                        "without a signature",
                    "", false, false);
    }
  }
  SetPackerDirectory(packer);
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
      return finish(
          "build failed: the folder '" + output + "' for the temporary tree cannot be made", "",
          false, false);
    }
    return finish("build failed; nothing was released", "", false, false);
  }
  std::string error;
  const bool signing = !sign_key_file.empty();
  if (signing) {
    bool signed_ok = SignReleaseManifest(patch_dir, sign_key, &error);
    if (!signed_ok) {
      sign_key.fill(0);
      // LATEST keeps naming the last good release: clients that trust the
      // key would refuse this one.
      return finish("the release is built, but not signed: " + error + "; LATEST was not updated",
                    patch_dir, false, false);
    }
  }
  // LATEST names the default channel's release alone: clients of before
  // channels follow it. Either way the release is on the disk before a
  // pointer names it.
  const bool latest = channel == kDefaultChannel && rollout == 100;
  if (!(latest ? PublishRelease(patch_dir, &error) : FlushRelease(patch_dir, &error))) {
    sign_key.fill(0);
    // The release itself is whole; only the pointer to it is missing.
    return finish("the release is built, but LATEST was not updated: " + error, patch_dir, signing,
                  false);
  }
  bool published = PublishBuiltRelease(patch_dir, channel, rollout, expires,
                                       signing ? &sign_key : nullptr, &error);
  sign_key.fill(0);
  if (!published) {
    return finish("the release is built, but the pointer of channel '" + channel +
                      "' was not written: " + error,
                  patch_dir, signing, latest);
  }
  return finish("", patch_dir, signing, latest);
}
