// libgcrypt, made ready once per process before the first digest or key.
#ifndef FILEDIST_SIGNING_CRYPTO_LIBRARY_H
#define FILEDIST_SIGNING_CRYPTO_LIBRARY_H

// Initialises libgcrypt unless the host program has done so already (a host
// that uses libgcrypt itself keeps its own settings). False when the
// library linked in is older than the one the code was compiled against.
bool EnsureCryptoLibrary();

#endif  // FILEDIST_SIGNING_CRYPTO_LIBRARY_H
