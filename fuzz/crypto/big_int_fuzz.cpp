// Big-integer arithmetic and the raw public operation on arbitrary bytes, as
// certificates deliver them: no crash, no hang, and the arithmetic identities
// hold.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string_view>

#include "crypto/big_int.h"
#include "crypto/rsa.h"

namespace {

void check(bool condition) {
  if (!condition) std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size < 3) return 0;
  const std::string_view in(reinterpret_cast<const char*>(data), size);
  // Layout: exponent length, modulus length, then exponent, modulus and input.
  const std::size_t eLength = static_cast<unsigned char>(in[0]) % 16;
  const std::size_t nLength = static_cast<unsigned char>(in[1]);
  std::string_view rest = in.substr(2);
  const std::string_view e = rest.substr(0, eLength);
  rest.remove_prefix(e.size());
  const std::string_view n = rest.substr(0, nLength);
  rest.remove_prefix(n.size());

  const qv::BigInt a = qv::BigInt::fromBytes(n);
  const qv::BigInt b = qv::BigInt::fromBytes(rest);
  check(qv::BigInt::fromBytes(a.toBytes(0)) == a);
  if (!b.isZero()) {
    const qv::BigInt q = a.div(b), r = a.mod(b);
    check(r.compareMagnitude(b) < 0);
    check(q.mul(b).add(r) == a);
  }
  check(a.add(b).sub(b) == a);
  check(a.mul(b) == b.mul(a));
  check(a.shiftLeft(37).shiftRight(37) == a);
  if (!a.isZero() && a.limbCount() <= 8) {
    const qv::BigInt inverse = qv::modInverse(b, a);
    if (!inverse.isZero()) check(inverse.mul(b).mod(a).equals(1));
  }

  const qv::Bytes result = qv::rsaRawPublicOp(e, n, rest);
  if (!result.empty()) check(qv::BigInt::fromBytes(result).compareMagnitude(a) < 0);
  return 0;
}
