#pragma once
// AES rounds on the AES-NI instructions. Call only when aesHardwareActive().
// Round keys are 16 bytes per round in FIPS 197 byte order, rounds + 1 of them.
#include <cstddef>

namespace qv::aesni {

void expandEncryptKey(const unsigned char* key, int keyWords, int rounds, unsigned char* roundKeys);
// The equivalent inverse cipher's schedule (InvMixColumns on the inner keys, reversed).
void toDecryptKey(const unsigned char* encryptKeys, int rounds, unsigned char* decryptKeys);

void encryptBlock(const unsigned char* roundKeys, int rounds, const unsigned char in[16],
                  unsigned char out[16]);
void decryptBlock(const unsigned char* roundKeys, int rounds, const unsigned char in[16],
                  unsigned char out[16]);

// chain is the running CBC value, updated. in and out may be the same buffer.
void encryptCbc(const unsigned char* roundKeys, int rounds, unsigned char chain[16], const unsigned char* in,
                unsigned char* out, std::size_t blocks);
void decryptCbc(const unsigned char* roundKeys, int rounds, unsigned char chain[16], const unsigned char* in,
                unsigned char* out, std::size_t blocks);

// Counter mode with a 32-bit big-endian counter in the last four bytes;
// counter is advanced past the blocks used (a partial one included).
void encryptCtr32(const unsigned char* roundKeys, int rounds, unsigned char counter[16],
                  const unsigned char* in, unsigned char* out, std::size_t length);

}  // namespace qv::aesni
