// Random bytes from libgcrypt's strong generator, for identifiers that must
// not repeat or be guessed.
#ifndef FILEDIST_SIGNING_RANDOM_BYTES_H
#define FILEDIST_SIGNING_RANDOM_BYTES_H

#include <cstddef>

// False when libgcrypt could not be made ready; out is then untouched.
bool RandomBytes(unsigned char* out, size_t size);

#endif  // FILEDIST_SIGNING_RANDOM_BYTES_H
