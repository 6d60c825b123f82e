// filedist promote RELEASES PATCH_DIR --channel NAME [--sign KEYFILE]:
// points a channel at a release the folder already holds, a newer one or,
// to roll back, an older one.
#include <cstdio>
#include <filesystem>
#include <string>
#include <system_error>

#include "cli/cli_commands.h"
#include "cli/command_line.h"
#include "cli/pointer_signer.h"
#include "interface/build_hooks.h"
#include "protocol/channel_pointer.h"
#include "release/signing_practice.h"
#include "signing/ed25519.h"
#include "signing/key_files.h"

namespace fs = std::filesystem;

int RunPromoteCommand(int argc, char** argv) {
  CommandLine line("promote");
  if (int status = line.Parse(argc, argv); status >= 0) return status;
  if (line.operands().size() != 2) return line.UsageError("RELEASES and PATCH_DIR are needed");
  if (!line.Has("channel")) return line.UsageError("--channel NAME is needed");
  const std::string channel = line.Value("channel");
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
  const std::string releases = line.operands()[0];
  // PATCH_DIR as a name or as a path: the release folder's own entry counts.
  std::string patch = fs::path(line.operands()[1]).filename().string();
  if (patch.empty()) patch = fs::path(line.operands()[1]).parent_path().filename().string();
  std::error_code failure;
  if (!fs::is_directory(fs::path(releases) / patch, failure)) {
    std::fprintf(stderr, "filedist: '%s' holds no patch directory '%s'\n", releases.c_str(),
                 patch.c_str());
    return 1;
  }
  Ed25519PrivateKey key;
  const bool signing = line.Has("sign");
  if (signing && line.Has("unsigned")) {
    return line.UsageError("--sign and --unsigned do not go together");
  }
  if (!signing && !line.Has("unsigned") && ReleaseFolderIsSigned(releases)) {
    std::fprintf(stderr,
                 "filedist: the releases in '%s' are signed: give --sign KEYFILE, or --unsigned "
                 "to point the channel without a signature; the channel is as it was\n",
                 releases.c_str());
    return 1;
  }
  if (signing && !ReadPrivateKeyFile(line.Value("sign"), &key)) {
    std::fprintf(stderr, "filedist: '%s' is not a readable private key file (filedist keygen)\n",
                 line.Value("sign"));
    return 1;
  }
  std::function<bool(const std::string&, std::string*)> signer;
  if (signing) signer = PointerSigner(key);
  uint64_t sequence = 0;
  std::string error;
  bool published =
      PublishReleaseChannel(releases, channel, patch, rollout, expires, signer, &sequence, &error);
  key.fill(0);
  if (!published) {
    std::fprintf(stderr, "filedist: %s; the channel is as it was\n", error.c_str());
    return 1;
  }
  std::printf("channel %s now offers %s to %d%% of installs (pointer %llu%s)\n", channel.c_str(),
              patch.c_str(), rollout, static_cast<unsigned long long>(sequence),
              signing ? ", signed" : "");
  return 0;
}
