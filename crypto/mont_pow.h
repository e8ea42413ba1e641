#pragma once
// Modular exponentiation with a secret exponent, for RSA private-key work.
#include "crypto/big_int.h"

namespace qv {

// base^exponent mod modulus for an odd modulus > 1 and 0 <= base, exponent <
// 2^(32 * limbs of modulus). The sequence of operations and memory accesses
// depends only on the modulus' limb count, never on the exponent's or the
// base's value: Montgomery products with a masked final subtraction, a fixed
// 4-bit window over every exponent bit, and a table read in full with masks.
// Zero for an even modulus, one of 1 or less, or an exponent that is too long.
BigInt modPowSecret(const BigInt& base, const BigInt& exponent, const BigInt& modulus);

}  // namespace qv
