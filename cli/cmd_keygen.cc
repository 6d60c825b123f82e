// filedist keygen NAME: an Ed25519 key pair for signing releases.
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <string>

#include "cli/cli_commands.h"
#include "cli/cli_platform.h"
#include "cli/command_line.h"
#include "signing/ed25519.h"
#include "signing/key_files.h"

namespace {

bool Exists(const std::string& path) {
  FILE* file = std::fopen(path.c_str(), "rb");
  if (file == nullptr) return errno != ENOENT;
  std::fclose(file);
  return true;
}

bool WriteNew(const std::string& path, const std::string& text, bool ownerOnly) {
  FILE* file = CreateNewFile(path, ownerOnly);
  if (file == nullptr) {
    std::fprintf(stderr, "filedist: cannot create '%s': %s\n", path.c_str(), std::strerror(errno));
    return false;
  }
  bool written = std::fwrite(text.data(), 1, text.size(), file) == text.size();
  if (std::fclose(file) != 0 || !written) {
    std::fprintf(stderr, "filedist: cannot write '%s': %s\n", path.c_str(), std::strerror(errno));
    std::remove(path.c_str());
    return false;
  }
  return true;
}

}  // namespace

int RunKeygenCommand(int argc, char** argv) {
  CommandLine line("keygen");
  if (int status = line.Parse(argc, argv); status >= 0) return status;
  if (line.operands().size() != 1 || line.operands()[0].empty()) {
    return line.UsageError("keygen takes one NAME");
  }
  const std::string private_path = line.operands()[0] + ".key";
  const std::string public_path = line.operands()[0] + ".pub";
  // Both are checked before either is written, so that a refusal leaves
  // no half of a new pair beside an old one.
  for (const std::string& path : {private_path, public_path}) {
    if (Exists(path)) {
      std::fprintf(stderr, "filedist: '%s' exists; a key is never overwritten\n", path.c_str());
      return 1;
    }
  }
  Ed25519PublicKey public_key;
  Ed25519PrivateKey private_key;
  if (!GenerateEd25519KeyPair(&public_key, &private_key)) {
    std::fprintf(stderr, "filedist: no key pair could be made\n");
    return 1;
  }
  if (!WriteNew(private_path, FormatPrivateKeyFile(private_key), true)) return 1;
  if (!WriteNew(public_path, FormatPublicKeyFile(public_key), false)) {
    std::remove(private_path.c_str());
    return 1;
  }
  private_key.fill(0);
  std::printf("private key: %s\npublic key:  %s\n", private_path.c_str(), public_path.c_str());
  return 0;
}
