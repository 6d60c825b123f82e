#include "signing/crypto_library.h"

#include <gcrypt.h>

namespace {

bool InitializeCryptoLibrary() {
  // A host may have set libgcrypt up itself.
  if (gcry_control(GCRYCTL_INITIALIZATION_FINISHED_P)) return true;
  if (gcry_check_version(GCRYPT_VERSION) == nullptr) return false;
  // Secure memory needs privileges a client rarely has, and libgcrypt warns
  // on standard error without them. A private key lives in this process
  // only for the moment of one signature.
  gcry_control(GCRYCTL_DISABLE_SECMEM, 0);
  gcry_control(GCRYCTL_INITIALIZATION_FINISHED, 0);
  return true;
}

}  // namespace

bool EnsureCryptoLibrary() {
  // Once per process: libgcrypt must not be set up by two threads at once,
  // and two update sessions of one host verify their releases side by side
  // (set up twice at the same moment, a valid signature was refused).
  static const bool ready = InitializeCryptoLibrary();
  return ready;
}
