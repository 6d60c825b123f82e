#include "signing/crypto_library.h"

#include <gcrypt.h>

bool EnsureCryptoLibrary() {
  if (gcry_control(GCRYCTL_INITIALIZATION_FINISHED_P)) return true;
  if (gcry_check_version(GCRYPT_VERSION) == nullptr) return false;
  // Secure memory needs privileges a client rarely has, and libgcrypt warns
  // on standard error without them. A private key lives in this process
  // only for the moment of one signature.
  gcry_control(GCRYCTL_DISABLE_SECMEM, 0);
  gcry_control(GCRYCTL_INITIALIZATION_FINISHED, 0);
  return true;
}
