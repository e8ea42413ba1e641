#pragma once
// Portable constant-time AES: four or eight blocks at a time, bitsliced over eight
// 64-bit words, the S-box as a Boyar-Peralta gate circuit. No table is
// indexed and no branch taken by key or data.
#include <cstddef>
#include <cstdint>

namespace qv::bitsliced {

inline constexpr std::size_t kBlocks = 4;      // per encrypt4/decrypt4 call
inline constexpr std::size_t kWideBlocks = 8;  // per encrypt8/decrypt8 call
inline constexpr std::size_t kWordsPerRound = 8;

// keyWords 4, 6 or 8; schedule receives 8 * (rounds + 1) words.
void expandKey(const unsigned char* key, int keyWords, int rounds, std::uint64_t* schedule);

// Turns an expanded schedule into the one the encrypt functions take (the
// decrypt functions take it as expandKey leaves it).
void toEncryptSchedule(std::uint64_t* schedule, int rounds);

// Four 16-byte blocks in place (64 bytes); unused blocks may hold anything.
void encrypt4(const std::uint64_t* schedule, int rounds, unsigned char blocks[64]);
void decrypt4(const std::uint64_t* schedule, int rounds, unsigned char blocks[64]);

// One block; in and out may be the same buffer.
void encrypt1(const std::uint64_t* schedule, int rounds, const unsigned char in[16], unsigned char out[16]);
void decrypt1(const std::uint64_t* schedule, int rounds, const unsigned char in[16], unsigned char out[16]);

// CBC encryption; chain is the running CBC value, updated. in and out may be
// the same buffer.
void encryptCbc(const std::uint64_t* schedule, int rounds, unsigned char chain[16], const unsigned char* in,
                unsigned char* out, std::size_t blocks);

// Eight blocks (128 bytes) in place, two groups of four in one pass.
void encrypt8(const std::uint64_t* schedule, int rounds, unsigned char blocks[128]);
void decrypt8(const std::uint64_t* schedule, int rounds, unsigned char blocks[128]);

// The AES S-box applied to each byte of x (for tests and the key schedule).
std::uint32_t subWord(std::uint32_t x);

}  // namespace qv::bitsliced
