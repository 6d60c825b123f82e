// MD5 message digest (RFC 1321).
#ifndef FILEDIST_FILEIO_MD5_H
#define FILEDIST_FILEIO_MD5_H

#include <cstddef>
#include <cstdint>

struct Md5State {
  uint32_t chain[4];
  uint32_t bit_count[2];  // number of bits hashed, low word first
  unsigned char block[64];
};

void Md5Init(Md5State* state);
void Md5Update(Md5State* state, const void* data, size_t length);
// Pads, writes the 16-byte digest and wipes the state.
void Md5Final(Md5State* state, unsigned char digest[16]);

#endif  // FILEDIST_FILEIO_MD5_H
