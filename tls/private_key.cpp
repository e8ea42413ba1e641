#include "tls/private_key.h"

#include "tls/der_reader.h"
#include "tls/pem.h"

namespace qv {

namespace {

constexpr std::uint8_t kDerOctetString = 0x04;
constexpr std::uint8_t kDerNull = 0x05;
constexpr std::uint8_t kDerExplicit1 = 0xA1;
constexpr std::uint8_t kDerImplicit1 = 0x81;  // [1] IMPLICIT BIT STRING

// Object identifier contents (RFC 8017, RFC 5480, RFC 4055).
constexpr std::string_view kOidRsaEncryption("\x2a\x86\x48\x86\xf7\x0d\x01\x01\x01", 9);
constexpr std::string_view kOidRsaPss("\x2a\x86\x48\x86\xf7\x0d\x01\x01\x0a", 9);
constexpr std::string_view kOidEcPublicKey("\x2a\x86\x48\xce\x3d\x02\x01", 7);
constexpr std::string_view kOidPrime256v1("\x2a\x86\x48\xce\x3d\x03\x01\x07", 8);
constexpr std::string_view kOidSecp384r1("\x2b\x81\x04\x00\x22", 5);

// RsaKey's own limit on moduli, and a floor below which no key is real.
constexpr std::size_t kMaxRsaBits = 16384;
constexpr std::size_t kMinRsaBits = 512;

using Result = std::optional<PrivateKey>;

Result fail(std::string* error, std::string reason) {
  if (error != nullptr) *error = std::move(reason);
  return std::nullopt;
}

// A non-negative INTEGER's magnitude; false when absent or negative.
bool takeUnsigned(std::string_view& input, Bytes& out) {
  const DerElement element = TakeElement(kDerInteger, input);
  if (!element.found || element.content.empty() ||
      (static_cast<unsigned char>(element.content[0]) & 0x80) != 0)
    return false;
  out = StripLeadingZeros(element.content);
  return true;
}

// A small INTEGER (a version field); -1 when absent or not small.
int takeVersion(std::string_view& input) {
  Bytes value;
  if (!takeUnsigned(input, value) || value.size() > 1) return -1;
  return value.empty() ? 0 : static_cast<unsigned char>(value[0]);
}

// RSAPrivateKey (RFC 8017 A.1.2), two primes only. The values are checked
// against each other so a damaged file fails here rather than in a handshake.
Result parseRsaPrivateKey(std::string_view der, PrivateKeyType type, std::string* error) {
  DerElement outer = TakeElement(kDerSequence, der);
  if (!outer.found || !der.empty()) return fail(error, "RSA private key: not one DER SEQUENCE");
  std::string_view body = outer.content;
  const int version = takeVersion(body);
  if (version == 1) return fail(error, "RSA private key: multi-prime keys are not supported");
  if (version != 0) return fail(error, "RSA private key: bad version");
  Bytes n, e, d, p, q, dP, dQ, qInv;
  for (Bytes* field : {&n, &e, &d, &p, &q, &dP, &dQ, &qInv}) {
    if (!takeUnsigned(body, *field)) return fail(error, "RSA private key: missing or negative integer");
  }
  if (!body.empty()) return fail(error, "RSA private key: unexpected data after the integers");
  const BigInt bn = BigInt::fromBytes(n), be = BigInt::fromBytes(e), bd = BigInt::fromBytes(d);
  const BigInt bp = BigInt::fromBytes(p), bq = BigInt::fromBytes(q);
  const std::size_t bits = bn.bitLength();
  if (bits < kMinRsaBits || bits > kMaxRsaBits)
    return fail(error, "RSA private key: modulus of " + std::to_string(bits) + " bits is outside 512..16384");
  if (!be.testBit(0) || be.compareMagnitude(3) < 0 || be.compareMagnitude(bn) >= 0 || bd.isZero() ||
      bd.compareMagnitude(bn) >= 0)
    return fail(error, "RSA private key: exponent out of range");
  // p, q > 1 keeps the CRT set-up away from division by zero.
  if (bp.compareMagnitude(2) < 0 || bq.compareMagnitude(2) < 0 || !(bp * bq == bn))
    return fail(error, "RSA private key: the primes do not multiply to the modulus");
  const BigInt one = 1;
  if (!(bd % (bp - one) == BigInt::fromBytes(dP)) || !(bd % (bq - one) == BigInt::fromBytes(dQ)) ||
      !((bq * BigInt::fromBytes(qInv)) % bp == one))
    return fail(error, "RSA private key: CRT values do not match the key");
  PrivateKey key;
  key.type = type;
  key.rsa.setPrivateKey(d, e, n, p, q);
  return key;
}

bool curveOf(std::string_view oid, EcCurve& curve) {
  if (oid == kOidPrime256v1) {
    curve = EcCurve::kP256;
  } else if (oid == kOidSecp384r1) {
    curve = EcCurve::kP384;
  } else {
    return false;
  }
  return true;
}

// ECPrivateKey (RFC 5915). outerCurve is the curve named by a PKCS#8
// wrapper; the structure's own parameters, when present, must agree.
Result parseEcPrivateKey(std::string_view der, const EcCurve* outerCurve, std::string* error) {
  DerElement outer = TakeElement(kDerSequence, der);
  if (!outer.found || !der.empty()) return fail(error, "EC private key: not one DER SEQUENCE");
  std::string_view body = outer.content;
  if (takeVersion(body) != 1) return fail(error, "EC private key: bad version");
  const DerElement scalar = TakeElement(kDerOctetString, body);
  if (!scalar.found) return fail(error, "EC private key: no private scalar");
  EcCurve curve = EcCurve::kP256;
  bool haveCurve = false;
  if (outerCurve != nullptr) {
    curve = *outerCurve;
    haveCurve = true;
  }
  if (const DerElement params = TakeElement(kDerExplicit0, body); params.found) {
    std::string_view inner = params.content;
    const DerElement oid = TakeElement(kDerObjectId, inner);
    EcCurve named;
    if (!oid.found || !inner.empty() || !curveOf(oid.content, named))
      return fail(error, "EC private key: unsupported curve (P-256 and P-384 only)");
    if (haveCurve && named != curve) return fail(error, "EC private key: two different curves named");
    curve = named;
    haveCurve = true;
  }
  if (!haveCurve) return fail(error, "EC private key: no curve named");
  std::string_view publicPoint;
  if (const DerElement pub = TakeElement(kDerExplicit1, body); pub.found) {
    std::string_view inner = pub.content;
    const DerElement bits = TakeElement(kDerBitString, inner);
    if (!bits.found || !inner.empty() || bits.content.empty() || bits.content[0] != '\0')
      return fail(error, "EC private key: malformed public key");
    publicPoint = bits.content.substr(1);
  }
  if (!body.empty()) return fail(error, "EC private key: unexpected data");
  const std::size_t size = ecFieldSize(curve);
  // Some writers drop leading zero bytes of the scalar; put them back.
  if (scalar.content.empty() || scalar.content.size() > size)
    return fail(error, "EC private key: scalar of the wrong length");
  PrivateKey key;
  key.type = PrivateKeyType::kEc;
  key.curve = curve;
  key.ecScalar = Bytes(size - scalar.content.size(), '\0') + Bytes(scalar.content);
  key.ecPublic = ecPublicKey(curve, key.ecScalar);
  if (key.ecPublic.empty()) return fail(error, "EC private key: scalar out of range");
  // A stored point that is not the scalar's would make every signature fail at the peer.
  if (!publicPoint.empty() && publicPoint != key.ecPublic)
    return fail(error, "EC private key: public key does not belong to the private key");
  return key;
}

// PrivateKeyInfo / OneAsymmetricKey (RFC 5208, RFC 5958).
Result parsePkcs8(std::string_view der, std::string* error) {
  DerElement outer = TakeElement(kDerSequence, der);
  if (!outer.found || !der.empty()) return fail(error, "PKCS#8 key: not one DER SEQUENCE");
  std::string_view body = outer.content;
  const int version = takeVersion(body);
  if (version != 0 && version != 1) return fail(error, "PKCS#8 key: bad version");
  DerElement algorithm = TakeElement(kDerSequence, body);
  std::string_view alg = algorithm.content;
  const DerElement oid = TakeElement(kDerObjectId, alg);
  const DerElement keyBytes = TakeElement(kDerOctetString, body);
  if (!algorithm.found || !oid.found || !keyBytes.found) return fail(error, "PKCS#8 key: malformed");
  // Attributes [0] and the public key [1] may follow; neither is needed.
  TakeElement(kDerExplicit0, body);
  TakeElement(kDerImplicit1, body);
  if (!body.empty()) return fail(error, "PKCS#8 key: unexpected data after the key");
  if (oid.content == kOidRsaEncryption) {
    if (!alg.empty()) {
      const DerElement null = TakeElement(kDerNull, alg);
      if (!null.found || !null.content.empty() || !alg.empty())
        return fail(error, "PKCS#8 key: rsaEncryption with parameters other than NULL");
    }
    return parseRsaPrivateKey(keyBytes.content, PrivateKeyType::kRsa, error);
  }
  if (oid.content == kOidRsaPss) {
    // RSASSA-PSS-params, when present, restrict the hashes; the schemes
    // offered decide those, so only the form is checked.
    if (!alg.empty()) {
      const DerElement params = TakeElement(kDerSequence, alg);
      if (!params.found || !alg.empty()) return fail(error, "PKCS#8 key: malformed RSASSA-PSS parameters");
    }
    return parseRsaPrivateKey(keyBytes.content, PrivateKeyType::kRsaPss, error);
  }
  if (oid.content == kOidEcPublicKey) {
    const DerElement curveOid = TakeElement(kDerObjectId, alg);
    EcCurve curve;
    if (!curveOid.found || !alg.empty() || !curveOf(curveOid.content, curve))
      return fail(error, "PKCS#8 key: unsupported curve (P-256 and P-384 only)");
    return parseEcPrivateKey(keyBytes.content, &curve, error);
  }
  return fail(error, "PKCS#8 key: unsupported algorithm (RSA, RSA-PSS and EC only)");
}

enum class DerForm { kPkcs8, kPkcs1, kSec1, kUnknown };

// The form from the first fields: PKCS#8 has a version then a SEQUENCE,
// PKCS#1 version 0 (1: multi-prime) then INTEGERs, SEC 1 version 1 then an OCTET STRING.
DerForm detect(std::string_view der) {
  std::string_view outer = TakeElement(kDerSequence, der).content;
  const int version = takeVersion(outer);
  const DerElement next = NextElement(outer);
  if (!next.found) return DerForm::kUnknown;
  if (next.tag == kDerSequence && (version == 0 || version == 1)) return DerForm::kPkcs8;
  if (next.tag == kDerInteger && (version == 0 || version == 1)) return DerForm::kPkcs1;
  if (next.tag == kDerOctetString && version == 1) return DerForm::kSec1;
  return DerForm::kUnknown;
}

Result parseForm(DerForm form, std::string_view der, std::string* error) {
  switch (form) {
    case DerForm::kPkcs8:
      return parsePkcs8(der, error);
    case DerForm::kPkcs1:
      return parseRsaPrivateKey(der, PrivateKeyType::kRsa, error);
    case DerForm::kSec1:
      return parseEcPrivateKey(der, nullptr, error);
    case DerForm::kUnknown:
      break;
  }
  return fail(error, "not a PKCS#8, PKCS#1 or SEC 1 private key");
}

}  // namespace

std::optional<PrivateKey> ReadDerPrivateKey(std::string_view der, std::string* error) {
  return parseForm(detect(der), der, error);
}

std::optional<PrivateKey> ReadPemPrivateKey(std::string_view pemText, std::string* error) {
  if (pemText.size() > kMaxPemBundleBytes) return fail(error, "PEM text too large");
  constexpr std::string_view kBegin = "-----BEGIN ";
  constexpr std::string_view kDashes = "-----";
  std::size_t at = 0;
  for (;;) {
    const std::size_t begin = pemText.find(kBegin, at);
    if (begin == std::string_view::npos) return fail(error, "no private key in the PEM text");
    const std::size_t labelStart = begin + kBegin.size();
    const std::size_t labelEnd = pemText.find(kDashes, labelStart);
    if (labelEnd == std::string_view::npos) return fail(error, "no private key in the PEM text");
    const std::string_view label = pemText.substr(labelStart, labelEnd - labelStart);
    at = labelEnd + kDashes.size();
    DerForm form = DerForm::kUnknown;
    if (label == "PRIVATE KEY") {
      form = DerForm::kPkcs8;
    } else if (label == "RSA PRIVATE KEY") {
      form = DerForm::kPkcs1;
    } else if (label == "EC PRIVATE KEY") {
      form = DerForm::kSec1;
    } else if (label == "ENCRYPTED PRIVATE KEY") {
      return fail(error, "the private key is encrypted (ENCRYPTED PRIVATE KEY); give an unencrypted key");
    } else {
      continue;  // certificates, EC PARAMETERS and the like
    }
    const std::string end = "-----END " + std::string(label) + "-----";
    const std::size_t endAt = pemText.find(end, at);
    if (endAt == std::string_view::npos)
      return fail(error, "the " + std::string(label) + " block has no END line");
    const std::string_view body = pemText.substr(at, endAt - at);
    if (body.find("Proc-Type:") != std::string_view::npos && body.find("ENCRYPTED") != std::string_view::npos)
      return fail(error, "the private key is encrypted (Proc-Type: 4,ENCRYPTED); give an unencrypted key");
    Bytes der;
    if (body.find(kDashes) != std::string_view::npos || !base64Decode(body, der) || der.empty())
      return fail(error, "the " + std::string(label) + " block is not valid base64");
    return parseForm(form, der, error);
  }
}

}  // namespace qv
