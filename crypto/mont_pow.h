#pragma once
// Modular exponentiation with a secret exponent, for RSA private-key work.
#include "crypto/big_int.h"

namespace qv {

// base^exponent mod modulus for an odd modulus > 1, base >= 0 and an
// exponent no longer (in 32-bit limbs) than the modulus. The sequence of
// operations and memory accesses depends only on the modulus' length, never
// on the exponent's or the base's value: Montgomery products with a masked
// final subtraction, a fixed 4-bit window over every exponent bit, and a
// table read in full with masks. Zero for an even modulus, one of 1 or less,
// or a longer exponent. Words of 64 bits where the compiler has a 128-bit
// integer, else of 32.
BigInt modPowSecret(const BigInt& base, const BigInt& exponent, const BigInt& modulus);

// The same on 32-bit words everywhere (what 32-bit targets run; the tests
// check it natively too).
namespace narrow {
BigInt modPowSecret(const BigInt& base, const BigInt& exponent, const BigInt& modulus);
}  // namespace narrow

}  // namespace qv
