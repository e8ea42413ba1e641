#include "tls/server_key_exchange.h"

#include "crypto/digest.h"
#include "crypto/rsa_verify.h"
#include "tls/handshake_reader.h"
#include "tls/ec_keys.h"
#include "tls/hello_extensions.h"
#include "tls/signature_schemes.h"

namespace qv {

namespace {

constexpr std::uint8_t kAlertDecodeError = 50;
constexpr std::uint8_t kAlertIllegalParameter = 47;
constexpr std::uint8_t kNamedCurve = 3;

ServerKeyExchangeCheck refuse(std::uint8_t alert, std::string error) {
  ServerKeyExchangeCheck check;
  check.alert = alert;
  check.error = std::move(error);
  return check;
}

struct SchemeRow {
  std::uint16_t scheme;
  HashAlgorithm hash;
  bool pss;
};

constexpr SchemeRow kSchemes[] = {
    {kSchemeRsaPkcs1Sha256, HashAlgorithm::kSha256, false},
    {kSchemeRsaPkcs1Sha384, HashAlgorithm::kSha384, false},
    {kSchemeRsaPkcs1Sha512, HashAlgorithm::kSha512, false},
    {kSchemeRsaPssRsaeSha256, HashAlgorithm::kSha256, true},
    {kSchemeRsaPssRsaeSha384, HashAlgorithm::kSha384, true},
    {kSchemeRsaPssRsaeSha512, HashAlgorithm::kSha512, true},
};

const SchemeRow* findScheme(std::uint16_t scheme) {
  for (const SchemeRow& row : kSchemes) {
    if (row.scheme == scheme) return &row;
  }
  return nullptr;
}

}  // namespace

ServerKeyExchangeCheck ParseServerKeyExchange(std::string_view body) {
  if (body.size() < 4) return refuse(kAlertDecodeError, "ServerKeyExchange too short");
  HandshakeReader reader(body);
  const auto curveType = static_cast<std::uint8_t>(reader.ReadBytes(1)[0]);
  const auto group = static_cast<std::uint16_t>(bytesToUInt(reader.ReadBytes(2)));
  const std::size_t shareSize = EcdheShareSize(group);
  if (curveType != kNamedCurve || shareSize == 0) {
    return refuse(kAlertIllegalParameter, "ServerKeyExchange for a group that was not offered");
  }
  const std::size_t pointLength = static_cast<std::uint8_t>(reader.ReadBytes(1)[0]);
  const std::string groupName = group == kGroupX25519      ? "X25519"
                                : group == kGroupSecp256r1 ? "secp256r1"
                                                           : "secp384r1";
  if (pointLength != shareSize)
    return refuse(kAlertIllegalParameter, groupName + " share of " + std::to_string(pointLength) + " bytes");
  if (reader.Remaining() < shareSize + 4) return refuse(kAlertDecodeError, "ServerKeyExchange truncated");
  ServerKeyExchangeCheck check;
  check.params.group = group;
  check.params.publicKey = Bytes(reader.ReadBytes(shareSize));
  check.params.params = Bytes(body.substr(0, 4 + shareSize));
  check.params.signatureScheme = static_cast<std::uint16_t>(bytesToUInt(reader.ReadBytes(2)));
  const std::size_t signatureLength = bytesToUInt(reader.ReadBytes(2));
  if (signatureLength == 0 || signatureLength != reader.Remaining()) {
    return refuse(kAlertDecodeError, "ServerKeyExchange signature length does not match the message");
  }
  check.params.signature = Bytes(reader.ReadBytes(signatureLength));
  bool offered = false;
  for (const std::uint16_t scheme : OfferedSignatureSchemes(false))
    offered = offered || scheme == check.params.signatureScheme;
  if (!offered) {
    return refuse(kAlertIllegalParameter, "ServerKeyExchange signed with scheme " +
                                              hexEncode(uintToBytes(check.params.signatureScheme, 2)) +
                                              " that was not offered");
  }
  if (!EcdheShareValid(group, check.params.publicKey)) {
    return refuse(kAlertIllegalParameter, "Server's " + groupName + " share is not a point of the curve");
  }
  return check;
}

bool VerifyServerKeyExchange(const RsaKey& serverKey, const EcdheServerParams& params,
                             std::string_view clientRandom, std::string_view serverRandom) {
  const SchemeRow* row = findScheme(params.signatureScheme);
  if (row == nullptr) return false;
  DigestContext context(row->hash);
  context.update(clientRandom);
  context.update(serverRandom);
  context.update(params.params);
  const Bytes digest = context.finish();
  return row->pss ? rsaVerifyPss(serverKey, row->hash, digest, params.signature)
                  : rsaVerifyPkcs1(serverKey, row->hash, digest, params.signature);
}

}  // namespace qv

namespace qv {

bool VerifyServerKeyExchange(const Certificate& certificate, const EcdheServerParams& params,
                             std::string_view clientRandom, std::string_view serverRandom,
                             std::string* error) {
  const Bytes signedContent = Bytes(clientRandom) + Bytes(serverRandom) + params.params;
  return VerifySignatureScheme(certificate, params.signatureScheme, signedContent, params.signature, false,
                               error);
}

}  // namespace qv
