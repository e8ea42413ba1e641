// ECDSA signatures and EC points as a peer delivers them: the strict DER
// reader, point validation, verification and ECDH on arbitrary bytes. No
// crash, no hang, and what is accepted is canonical: a parsed signature
// re-encodes to the same bytes, a valid point gives a shared secret.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string_view>

#include "crypto/ec.h"
#include "crypto/ecdsa.h"
#include "crypto/ecdsa_der.h"

namespace {

void check(bool condition) {
  if (!condition) std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size < 1) return 0;
  std::string_view in(reinterpret_cast<const char*>(data), size);
  // Layout: curve selector, then the point (its full length when there is
  // enough input), then the DER signature.
  const qv::EcCurve curve = (in[0] & 1) ? qv::EcCurve::kP384 : qv::EcCurve::kP256;
  const bool pointFirst = (in[0] & 2) != 0;
  in.remove_prefix(1);
  const std::size_t pointSize = 1 + 2 * qv::ecFieldSize(curve);
  const std::string_view point = pointFirst ? in.substr(0, pointSize) : std::string_view();
  const std::string_view signature = pointFirst ? in.substr(point.size()) : in;

  if (const auto parts = qv::parseEcdsaSignatureDer(signature))
    check(qv::encodeEcdsaSignatureDer(parts->r, parts->s) == signature);

  static const std::string_view kDigest = "0123456789abcdef0123456789abcdef0123456789abcdef";
  const bool valid = qv::ecPointIsValid(curve, point);
  const bool verified = qv::ecdsaVerifyDer(curve, point, kDigest, signature);
  check(valid || !verified);
  if (valid) {
    const qv::Bytes scalar(qv::ecFieldSize(curve), '\x07');
    check(qv::ecdh(curve, scalar, point).size() == qv::ecFieldSize(curve));
  } else {
    check(qv::ecdh(curve, std::string(qv::ecFieldSize(curve), '\x07'), point).empty());
  }
  return 0;
}
