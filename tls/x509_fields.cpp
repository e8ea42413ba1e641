// Reading the certificate fields the server check needs. Every element is
// taken through the bounded DER reader; a missing or malformed one is a
// problem, never a read past the input.
#include "tls/x509_fields.h"

#include <cctype>
#include <cstdio>

#include "tls/der_reader.h"

namespace qv {

namespace {

constexpr std::uint8_t kDerBoolean = 0x01;
constexpr std::uint8_t kDerOctetString = 0x04;
constexpr std::uint8_t kDerUtcTime = 0x17;
constexpr std::uint8_t kDerGeneralizedTime = 0x18;
constexpr std::uint8_t kSanDnsName = 0x82;
constexpr std::uint8_t kSanIpAddress = 0x87;

constexpr std::string_view kOidRsaPrefix{"\x2A\x86\x48\x86\xF7\x0D\x01\x01", 8};
constexpr std::string_view kOidEcdsaPrefix{"\x2A\x86\x48\xCE\x3D\x04", 6};
constexpr std::string_view kOidEcdsaSha256{"\x2A\x86\x48\xCE\x3D\x04\x03\x02", 8};
constexpr std::string_view kOidEcdsaSha384{"\x2A\x86\x48\xCE\x3D\x04\x03\x03", 8};
constexpr std::string_view kOidEcdsaSha512{"\x2A\x86\x48\xCE\x3D\x04\x03\x04", 8};
constexpr std::string_view kOidHashPrefix{"\x60\x86\x48\x01\x65\x03\x04\x02", 8};
constexpr std::string_view kOidMgf1{"\x2A\x86\x48\x86\xF7\x0D\x01\x01\x08", 9};
constexpr std::string_view kOidRsaPssKey{"\x2A\x86\x48\x86\xF7\x0D\x01\x01\x0A", 9};
constexpr std::string_view kOidEcPublicKey{"\x2A\x86\x48\xCE\x3D\x02\x01", 7};
constexpr std::string_view kOidP256{"\x2A\x86\x48\xCE\x3D\x03\x01\x07", 8};
constexpr std::string_view kOidP384{"\x2B\x81\x04\x00\x22", 5};
constexpr std::string_view kOidP521{"\x2B\x81\x04\x00\x23", 5};
constexpr std::string_view kOidBasicConstraints{"\x55\x1D\x13", 3};
constexpr std::string_view kOidSubjectAltName{"\x55\x1D\x11", 3};
// Extensions a chain may mark critical without changing what we check:
// key usage, extended key usage, certificate policies.
constexpr std::string_view kOidKeyUsage{"\x55\x1D\x0F", 3};
constexpr std::string_view kOidExtKeyUsage{"\x55\x1D\x25", 3};
constexpr std::string_view kOidCertificatePolicies{"\x55\x1D\x20", 3};
constexpr std::string_view kOidCommonName{"\x55\x04\x03", 3};

// A certificate naming more than this is not one we want to walk.
constexpr std::size_t kMaxSanEntries = 1024;

SignatureAlgorithm signatureAlgorithmOf(std::string_view oid) {
  if (oid.size() == 9 && oid.substr(0, 8) == kOidRsaPrefix) {
    switch (oid[8]) {
      case 0x04:
        return SignatureAlgorithm::kRsaMd5;
      case 0x05:
        return SignatureAlgorithm::kRsaSha1;
      case 0x0A:
        return SignatureAlgorithm::kRsaPss;
      case 0x0B:
        return SignatureAlgorithm::kRsaSha256;
      case 0x0C:
        return SignatureAlgorithm::kRsaSha384;
      case 0x0D:
        return SignatureAlgorithm::kRsaSha512;
      default:
        return SignatureAlgorithm::kUnknown;
    }
  }
  if (oid.size() >= kOidEcdsaPrefix.size() && oid.substr(0, kOidEcdsaPrefix.size()) == kOidEcdsaPrefix) {
    return SignatureAlgorithm::kEcdsa;
  }
  return SignatureAlgorithm::kUnknown;
}

// The hash of an AlgorithmIdentifier naming SHA-256/384/512 (parameters
// absent or NULL).
std::optional<HashAlgorithm> hashOfIdentifier(std::string_view identifier) {
  const DerElement oid = TakeElement(kDerObjectId, identifier);
  if (!oid.found) return std::nullopt;
  if (!identifier.empty() && identifier != std::string_view("\x05\x00", 2)) return std::nullopt;
  if (oid.content.size() != 9 || oid.content.substr(0, 8) != kOidHashPrefix) return std::nullopt;
  switch (oid.content[8]) {
    case 0x01:
      return HashAlgorithm::kSha256;
    case 0x02:
      return HashAlgorithm::kSha384;
    case 0x03:
      return HashAlgorithm::kSha512;
    default:
      return std::nullopt;
  }
}

// RSASSA-PSS-params (RFC 4055) as TLS and this verifier use them: an
// explicit SHA-2 hash, MGF1 over the same hash, a salt as long as the hash
// and the default trailer. The defaults (SHA-1) are not taken.
std::optional<HashAlgorithm> pssParamsHash(std::string_view params) {
  const DerElement sequence = TakeElement(kDerSequence, params);
  if (!sequence.found || !params.empty()) return std::nullopt;
  std::string_view fields = sequence.content;
  const DerElement hashField = TakeElement(0xA0, fields);
  const DerElement mgfField = TakeElement(0xA1, fields);
  const DerElement saltField = TakeElement(0xA2, fields);
  const DerElement trailerField = TakeElement(0xA3, fields);
  if (!hashField.found || !mgfField.found || !saltField.found || !fields.empty()) return std::nullopt;
  std::string_view hashContent = hashField.content;
  const std::optional<HashAlgorithm> hash = hashOfIdentifier(TakeElement(kDerSequence, hashContent).content);
  if (!hash || !hashContent.empty()) return std::nullopt;
  std::string_view mgfContent = mgfField.content;
  std::string_view mgf = TakeElement(kDerSequence, mgfContent).content;
  if (TakeElement(kDerObjectId, mgf).content != kOidMgf1 || !mgfContent.empty()) return std::nullopt;
  if (hashOfIdentifier(TakeElement(kDerSequence, mgf).content) != hash || !mgf.empty()) return std::nullopt;
  std::string_view saltContent = saltField.content;
  const DerElement salt = TakeElement(kDerInteger, saltContent);
  if (!salt.found || !saltContent.empty() || salt.content.size() > 2 ||
      bytesToUInt(salt.content) != digestSize(*hash)) {
    return std::nullopt;
  }
  if (trailerField.found) {
    std::string_view trailerContent = trailerField.content;
    const DerElement trailer = TakeElement(kDerInteger, trailerContent);
    if (trailer.content != std::string_view("\x01", 1) || !trailerContent.empty()) return std::nullopt;
  }
  return hash;
}

std::optional<HashAlgorithm> signatureHashOf(SignatureAlgorithm algorithm, std::string_view oid,
                                             std::string_view params) {
  if (algorithm == SignatureAlgorithm::kRsaPss) return pssParamsHash(params);
  if (algorithm != SignatureAlgorithm::kEcdsa || !params.empty()) return std::nullopt;
  if (oid == kOidEcdsaSha256) return HashAlgorithm::kSha256;
  if (oid == kOidEcdsaSha384) return HashAlgorithm::kSha384;
  if (oid == kOidEcdsaSha512) return HashAlgorithm::kSha512;
  return std::nullopt;
}

// Days from 1970-01-01 to the civil date (proleptic Gregorian).
std::int64_t daysFromCivil(std::int64_t year, unsigned month, unsigned day) {
  year -= month <= 2 ? 1 : 0;
  const std::int64_t era = (year >= 0 ? year : year - 399) / 400;
  const auto yearOfEra = static_cast<unsigned>(year - era * 400);
  const unsigned dayOfYear = (153 * (month + (month > 2 ? -3 : 9)) + 2) / 5 + day - 1;
  const unsigned dayOfEra = yearOfEra * 365 + yearOfEra / 4 - yearOfEra / 100 + dayOfYear;
  return era * 146097 + static_cast<std::int64_t>(dayOfEra) - 719468;
}

bool digits(std::string_view text, std::size_t at, std::size_t count, unsigned& value) {
  value = 0;
  for (std::size_t k = at; k < at + count; ++k) {
    if (text[k] < '0' || text[k] > '9') return false;
    value = value * 10 + static_cast<unsigned>(text[k] - '0');
  }
  return true;
}

// UTCTime YYMMDDHHMMSSZ (50..99 are 19xx) or GeneralizedTime
// YYYYMMDDHHMMSSZ, the only forms DER allows in certificates.
bool readTime(std::string_view& input, std::int64_t& seconds) {
  const DerElement element = NextElement(input);
  if (!element.found) return false;
  const std::string_view text = element.content;
  unsigned year = 0;
  std::size_t at = 0;
  if (element.tag == kDerUtcTime && text.size() == 13) {
    if (!digits(text, 0, 2, year)) return false;
    year += year >= 50 ? 1900 : 2000;
    at = 2;
  } else if (element.tag == kDerGeneralizedTime && text.size() == 15) {
    if (!digits(text, 0, 4, year)) return false;
    at = 4;
  } else {
    return false;
  }
  unsigned month = 0, day = 0, hour = 0, minute = 0, second = 0;
  if (!digits(text, at, 2, month) || !digits(text, at + 2, 2, day) || !digits(text, at + 4, 2, hour) ||
      !digits(text, at + 6, 2, minute) || !digits(text, at + 8, 2, second) || text[at + 10] != 'Z') {
    return false;
  }
  if (month < 1 || month > 12 || day < 1 || day > 31 || hour > 23 || minute > 59 || second > 59) return false;
  seconds = daysFromCivil(year, month, day) * 86400 + hour * 3600 + minute * 60 + second;
  return true;
}

std::size_t bitLength(std::string_view bigEndian) {
  if (bigEndian.empty()) return 0;
  unsigned top = static_cast<std::uint8_t>(bigEndian[0]);
  std::size_t bits = (bigEndian.size() - 1) * 8;
  while (top != 0) {
    ++bits;
    top >>= 1;
  }
  return bits;
}

// BIT STRING content without its unused-bits byte, which must be zero for
// keys and signatures.
bool bitStringBytes(std::string_view content, std::string_view& bytes) {
  if (content.empty() || content[0] != '\0') return false;
  bytes = content.substr(1);
  return true;
}

bool readPublicKey(std::string_view keyInfo, X509Fields& fields, std::string& problem) {
  std::string_view algorithm = TakeElement(kDerSequence, keyInfo).content;
  const DerElement oid = TakeElement(kDerObjectId, algorithm);
  const DerElement bits = TakeElement(kDerBitString, keyInfo);
  std::string_view key;
  if (!oid.found || !bits.found || !bitStringBytes(bits.content, key)) {
    problem = "malformed public key";
    return false;
  }
  const bool pssKey = oid.content == kOidRsaPssKey;
  if (pssKey || oid.content == std::string_view("\x2A\x86\x48\x86\xF7\x0D\x01\x01\x01", 9)) {
    fields.keyAlgorithm = pssKey ? KeyAlgorithm::kRsaPss : KeyAlgorithm::kRsa;
    std::string_view sequence = TakeElement(kDerSequence, key).content;
    const DerElement modulus = TakeElement(kDerInteger, sequence);
    const DerElement exponent = TakeElement(kDerInteger, sequence);
    if (!modulus.found || !exponent.found) {
      problem = "malformed RSA public key";
      return false;
    }
    fields.modulus = StripLeadingZeros(modulus.content);
    fields.exponent = StripLeadingZeros(exponent.content);
    fields.keyBits = bitLength(fields.modulus);
  } else if (oid.content == kOidEcPublicKey) {
    fields.keyAlgorithm = KeyAlgorithm::kEc;
    const std::string_view curve = TakeElement(kDerObjectId, algorithm).content;
    fields.keyBits = curve == kOidP256 ? 256 : curve == kOidP384 ? 384 : curve == kOidP521 ? 521 : 0;
    if (fields.keyBits == 256 || fields.keyBits == 384) {
      const std::size_t coordinate = fields.keyBits / 8;
      if (key.size() != 1 + 2 * coordinate || key[0] != '\x04') {
        problem = "EC public key is not an uncompressed point of its curve";
        return false;
      }
      fields.ecPoint = Bytes(key);
    }
  }
  return true;
}

bool readBasicConstraints(std::string_view value, X509Fields& fields) {
  const DerElement sequence = TakeElement(kDerSequence, value);
  if (!sequence.found) return false;
  std::string_view content = sequence.content;
  const DerElement ca = TakeElement(kDerBoolean, content);
  if (ca.found) {
    if (ca.content.size() != 1) return false;
    fields.isCa = ca.content[0] != '\0';
  }
  return true;
}

bool readSubjectAltName(std::string_view value, X509Fields& fields) {
  const DerElement sequence = TakeElement(kDerSequence, value);
  if (!sequence.found) return false;
  std::string_view names = sequence.content;
  std::size_t count = 0;
  while (!names.empty()) {
    const DerElement name = NextElement(names);
    if (!name.found || ++count > kMaxSanEntries) return false;
    if (name.tag == kSanDnsName) {
      fields.dnsNames.emplace_back(name.content);
    } else if (name.tag == kSanIpAddress) {
      fields.ipAddresses.emplace_back(name.content);
    }
  }
  return true;
}

bool readExtensions(std::string_view list, X509Fields& fields, std::string& problem) {
  const DerElement sequence = TakeElement(kDerSequence, list);
  if (!sequence.found) {
    problem = "malformed extensions";
    return false;
  }
  std::string_view extensions = sequence.content;
  while (!extensions.empty()) {
    const DerElement extension = TakeElement(kDerSequence, extensions);
    if (!extension.found) {
      problem = "malformed extension";
      return false;
    }
    std::string_view content = extension.content;
    const DerElement oid = TakeElement(kDerObjectId, content);
    const DerElement critical = TakeElement(kDerBoolean, content);
    const DerElement value = TakeElement(kDerOctetString, content);
    if (!oid.found || !value.found || (critical.found && critical.content.size() != 1)) {
      problem = "malformed extension";
      return false;
    }
    const bool isCritical = critical.found && critical.content[0] != '\0';
    if (oid.content == kOidBasicConstraints) {
      if (fields.hasBasicConstraints || !readBasicConstraints(value.content, fields)) {
        problem = "malformed or repeated basic constraints";
        return false;
      }
      fields.hasBasicConstraints = true;
      fields.basicConstraintsCritical = isCritical;
    } else if (oid.content == kOidSubjectAltName) {
      if (fields.hasSubjectAltName || !readSubjectAltName(value.content, fields)) {
        problem = "malformed or repeated subject alternative names";
        return false;
      }
      fields.hasSubjectAltName = true;
    } else if (isCritical && oid.content != kOidKeyUsage && oid.content != kOidExtKeyUsage &&
               oid.content != kOidCertificatePolicies) {
      fields.unknownCriticalExtensions.push_back(oid.content);
    }
  }
  return true;
}

bool isPrintable(char c) { return c >= 0x20 && c < 0x7F; }

std::string printable(std::string_view text) {
  std::string out;
  out.reserve(text.size());
  for (char c : text) out += isPrintable(c) ? c : '?';
  return out;
}

const char* attributeName(std::string_view oid) {
  static const struct {
    std::string_view oid;
    const char* name;
  } names[] = {
      {kOidCommonName, "CN"},
      {{"\x55\x04\x06", 3}, "C"},
      {{"\x55\x04\x07", 3}, "L"},
      {{"\x55\x04\x08", 3}, "ST"},
      {{"\x55\x04\x0A", 3}, "O"},
      {{"\x55\x04\x0B", 3}, "OU"},
      {{"\x55\x04\x05", 3}, "serialNumber"},
      {{"\x2A\x86\x48\x86\xF7\x0D\x01\x09\x01", 9}, "emailAddress"},
      {{"\x09\x92\x26\x89\x93\xF2\x2C\x64\x01\x19", 10}, "DC"},
  };
  for (const auto& entry : names) {
    if (entry.oid == oid) return entry.name;
  }
  return nullptr;
}

// Calls visit(oid, value) for each attribute of a Name, in order.
template <typename Visit>
void forEachAttribute(std::string_view nameDer, Visit visit) {
  std::string_view rdns = TakeElement(kDerSequence, nameDer).content;
  while (!rdns.empty()) {
    const DerElement set = TakeElement(kDerSet, rdns);
    if (!set.found) return;
    std::string_view attributes = set.content;
    while (!attributes.empty()) {
      const DerElement attribute = TakeElement(kDerSequence, attributes);
      if (!attribute.found) return;
      std::string_view content = attribute.content;
      const DerElement oid = TakeElement(kDerObjectId, content);
      const DerElement value = NextElement(content);
      if (!oid.found || !value.found) return;
      visit(oid.content, value.content);
    }
  }
}

}  // namespace

bool ReadX509Fields(std::string_view der, X509Fields& fields, std::string& problem) {
  fields = X509Fields{};
  std::string_view input = der;
  const DerElement outer = TakeElement(kDerSequence, input);
  if (!outer.found) {
    problem = "not a DER certificate";
    return false;
  }
  std::string_view certificate = outer.content;
  const DerElement tbs = TakeElement(kDerSequence, certificate);
  const DerElement outerAlgorithm = TakeElement(kDerSequence, certificate);
  const DerElement signature = TakeElement(kDerBitString, certificate);
  if (!tbs.found || !outerAlgorithm.found || !signature.found ||
      !bitStringBytes(signature.content, fields.signature)) {
    problem = "malformed certificate";
    return false;
  }
  fields.tbs = tbs.whole;
  std::string_view algorithm = outerAlgorithm.content;
  fields.signatureOid = TakeElement(kDerObjectId, algorithm).content;
  fields.signatureAlgorithm = signatureAlgorithmOf(fields.signatureOid);
  fields.signatureHash = signatureHashOf(fields.signatureAlgorithm, fields.signatureOid, algorithm);

  std::string_view body = tbs.content;
  TakeElement(kDerExplicit0, body);  // version
  const DerElement serial = TakeElement(kDerInteger, body);
  const DerElement innerAlgorithm = TakeElement(kDerSequence, body);
  const DerElement issuer = TakeElement(kDerSequence, body);
  const DerElement validity = TakeElement(kDerSequence, body);
  const DerElement subject = TakeElement(kDerSequence, body);
  const DerElement keyInfo = TakeElement(kDerSequence, body);
  if (!serial.found || !innerAlgorithm.found || !issuer.found || !validity.found || !subject.found ||
      !keyInfo.found) {
    problem = "malformed certificate body";
    return false;
  }
  // The signed copy of the algorithm must be the one the signature claims.
  if (innerAlgorithm.content != outerAlgorithm.content) {
    problem = "signature algorithm differs from the signed one";
    return false;
  }
  fields.issuer = issuer.whole;
  fields.subject = subject.whole;
  std::string_view dates = validity.content;
  if (!readTime(dates, fields.notBefore) || !readTime(dates, fields.notAfter)) {
    problem = "malformed validity dates";
    return false;
  }
  if (!readPublicKey(keyInfo.content, fields, problem)) return false;
  // Optional unique identifiers, then the extensions.
  while (!body.empty()) {
    const DerElement element = NextElement(body);
    if (!element.found) {
      problem = "malformed certificate body";
      return false;
    }
    if (element.tag == kDerExplicit3) return readExtensions(element.content, fields, problem);
  }
  return true;
}

std::string CommonName(std::string_view nameDer) {
  std::string result;
  forEachAttribute(nameDer, [&](std::string_view oid, std::string_view value) {
    if (oid == kOidCommonName) result = std::string(value);
  });
  return result;
}

std::string NameDisplay(std::string_view nameDer) {
  std::string result;
  forEachAttribute(nameDer, [&](std::string_view oid, std::string_view value) {
    if (!result.empty()) result += ", ";
    const char* name = attributeName(oid);
    result += name != nullptr ? std::string(name) : OidText(oid);
    result += '=';
    result += printable(value);
  });
  return result;
}

std::string_view SignatureAlgorithmName(SignatureAlgorithm algorithm) {
  switch (algorithm) {
    case SignatureAlgorithm::kRsaMd5:
      return "MD5 with RSA";
    case SignatureAlgorithm::kRsaSha1:
      return "SHA-1 with RSA";
    case SignatureAlgorithm::kRsaSha256:
      return "SHA-256 with RSA";
    case SignatureAlgorithm::kRsaSha384:
      return "SHA-384 with RSA";
    case SignatureAlgorithm::kRsaSha512:
      return "SHA-512 with RSA";
    case SignatureAlgorithm::kEcdsa:
      return "ECDSA";
    case SignatureAlgorithm::kRsaPss:
      return "RSASSA-PSS";
    case SignatureAlgorithm::kUnknown:
      break;
  }
  return {};
}

std::string OidText(std::string_view oid) {
  std::string result;
  std::uint64_t value = 0;
  std::size_t septets = 0;
  bool first = true;
  for (char c : oid) {
    const auto byte = static_cast<std::uint8_t>(c);
    if (++septets > 9) return result + "?";
    value = (value << 7) | (byte & 0x7F);
    if (byte & 0x80) continue;
    if (first) {
      const std::uint64_t top = value < 40 ? 0 : value < 80 ? 1 : 2;
      result = std::to_string(top) + "." + std::to_string(value - top * 40);
      first = false;
    } else {
      result += "." + std::to_string(value);
    }
    value = 0;
    septets = 0;
  }
  return result;
}

std::string TimeText(std::int64_t unixSeconds) {
  std::int64_t days = unixSeconds / 86400;
  std::int64_t rest = unixSeconds % 86400;
  if (rest < 0) {
    rest += 86400;
    --days;
  }
  // Civil date from days (the inverse of daysFromCivil).
  const std::int64_t z = days + 719468;
  const std::int64_t era = (z >= 0 ? z : z - 146096) / 146097;
  const auto dayOfEra = static_cast<unsigned>(z - era * 146097);
  const unsigned yearOfEra = (dayOfEra - dayOfEra / 1460 + dayOfEra / 36524 - dayOfEra / 146096) / 365;
  const unsigned dayOfYear = dayOfEra - (365 * yearOfEra + yearOfEra / 4 - yearOfEra / 100);
  const unsigned mp = (5 * dayOfYear + 2) / 153;
  const unsigned day = dayOfYear - (153 * mp + 2) / 5 + 1;
  const unsigned month = mp < 10 ? mp + 3 : mp - 9;
  const std::int64_t year = static_cast<std::int64_t>(yearOfEra) + era * 400 + (month <= 2 ? 1 : 0);
  char text[64];
  std::snprintf(text, sizeof text, "%04lld-%02u-%02u %02d:%02d:%02d UTC", static_cast<long long>(year), month,
                day, static_cast<int>(rest / 3600), static_cast<int>(rest / 60 % 60),
                static_cast<int>(rest % 60));
  return text;
}

std::string IpAddressText(std::string_view address) {
  char part[8];
  if (address.size() == 4) {
    std::string result;
    for (std::size_t k = 0; k < 4; ++k) {
      if (k > 0) result += '.';
      result += std::to_string(static_cast<std::uint8_t>(address[k]));
    }
    return result;
  }
  if (address.size() != 16) return hexEncode(address);
  unsigned groups[8];
  for (std::size_t k = 0; k < 8; ++k) {
    groups[k] = static_cast<unsigned>(static_cast<std::uint8_t>(address[2 * k]) << 8) |
                static_cast<std::uint8_t>(address[2 * k + 1]);
  }
  // The longest run of two or more zero groups becomes "::" (the first such run on ties).
  int bestStart = -1, bestLength = 1;
  for (int k = 0; k < 8;) {
    if (groups[k] != 0) {
      ++k;
      continue;
    }
    int end = k;
    while (end < 8 && groups[end] == 0) ++end;
    if (end - k > bestLength) {
      bestStart = k;
      bestLength = end - k;
    }
    k = end;
  }
  std::string result;
  for (int k = 0; k < 8; ++k) {
    if (k == bestStart) {
      result += "::";
      k += bestLength - 1;
      continue;
    }
    if (!result.empty() && result.back() != ':') result += ':';
    std::snprintf(part, sizeof part, "%x", groups[k]);
    result += part;
  }
  return result;
}

bool ParseIpAddress(std::string_view text, Bytes& address) {
  if (text.size() >= 2 && text.front() == '[' && text.back() == ']') text = text.substr(1, text.size() - 2);
  if (text.empty() || text.size() > 45) return false;
  if (text.find(':') == std::string_view::npos) {
    Bytes bytes;
    std::size_t at = 0;
    for (int k = 0; k < 4; ++k) {
      if (k > 0 && (at >= text.size() || text[at++] != '.')) return false;
      unsigned value = 0;
      std::size_t count = 0;
      while (at < text.size() && text[at] >= '0' && text[at] <= '9' && count < 3) {
        value = value * 10 + static_cast<unsigned>(text[at++] - '0');
        ++count;
      }
      if (count == 0 || value > 255) return false;
      bytes += static_cast<char>(value);
    }
    if (at != text.size()) return false;
    address = bytes;
    return true;
  }
  // IPv6: hex groups with at most one "::".
  std::vector<unsigned> head, tail;
  std::vector<unsigned>* groups = &head;
  bool compressed = false;
  std::size_t at = 0;
  if (text.substr(0, 2) == "::") {
    compressed = true;
    groups = &tail;
    at = 2;
  }
  while (at < text.size()) {
    unsigned value = 0;
    std::size_t count = 0;
    while (at < text.size() && count < 5 && std::isxdigit(static_cast<unsigned char>(text[at]))) {
      const char c = text[at++];
      value = value * 16 + static_cast<unsigned>(c <= '9' ? c - '0' : (c | 0x20) - 'a' + 10);
      ++count;
    }
    if (count == 0 || count > 4) return false;
    groups->push_back(value);
    if (at == text.size()) break;
    if (text[at] != ':') return false;
    ++at;
    if (at < text.size() && text[at] == ':') {
      if (compressed) return false;
      compressed = true;
      groups = &tail;
      ++at;
    } else if (at == text.size()) {
      return false;
    }
  }
  const std::size_t total = head.size() + tail.size();
  if (compressed ? total > 7 : total != 8) return false;
  Bytes bytes;
  auto put = [&](unsigned value) {
    bytes += static_cast<char>(value >> 8);
    bytes += static_cast<char>(value & 0xFF);
  };
  for (unsigned value : head) put(value);
  for (std::size_t k = total; k < 8; ++k) put(0);
  for (unsigned value : tail) put(value);
  address = bytes;
  return true;
}

}  // namespace qv
