#include "signing/random_bytes.h"

#include <gcrypt.h>

#include "signing/crypto_library.h"

bool RandomBytes(unsigned char* out, size_t size) {
  if (!EnsureCryptoLibrary()) return false;
  gcry_randomize(out, size, GCRY_STRONG_RANDOM);
  return true;
}
