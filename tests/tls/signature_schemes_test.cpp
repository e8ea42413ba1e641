// Signature schemes against keys of each kind: which scheme a key may make
// under TLS 1.2 and 1.3, real signatures checked, the client's choice, and
// ChaCha20-Poly1305 record protection.
#include <gtest/gtest.h>

#include "crypto/chacha20_poly1305.h"
#include "crypto/ec.h"
#include "crypto/ecdsa.h"
#include "crypto/rsa_sign.h"
#include "tests/tls/test_certificates.h"
#include "tls/certificate.h"
#include "tls/chacha_record.h"
#include "tls/der_reader.h"
#include "tls/gcm_record.h"
#include "tls/hello_extensions.h"
#include "tls/signature_schemes.h"

namespace qv {
namespace {

Bytes fromHex(std::string_view hex) {
  Bytes out;
  for (std::size_t k = 0; k + 1 < hex.size(); k += 2) {
    out += static_cast<char>(std::stoi(std::string(hex.substr(k, 2)), nullptr, 16));
  }
  return out;
}

// One RSA key (the 1024-bit test key) seen as rsaEncryption and as RSA-PSS,
// and a P-256 and a P-384 key, each with a way to sign.
struct Keys {
  RsaKey rsa;
  Certificate rsaCertificate;
  Certificate pssCertificate;
  Bytes p256Scalar;
  Certificate p256Certificate;
  Bytes p384Scalar;
  Certificate p384Certificate;
};

const Keys& keys() {
  static const Keys made = [] {
    Keys k;
    Certificate key;
    key.privateKeyDer = fromHex(test::kServerKeyHex);
    ReadPrivateKey(key, {});
    k.rsa.setPrivateKey(key.keyPrivateExponent, key.keyPublicExponent, key.keyModulus, key.keyPrime1,
                        key.keyPrime2);
    k.rsaCertificate.modulus = StripLeadingZeros(key.keyModulus);
    k.rsaCertificate.exponent = StripLeadingZeros(key.keyPublicExponent);
    k.pssCertificate = k.rsaCertificate;
    k.pssCertificate.keyKind = CertificateKey::kRsaPss;
    k.p256Scalar = Bytes(31, '\0') + "\x2a";
    k.p256Certificate.keyKind = CertificateKey::kEcP256;
    k.p256Certificate.ecPoint = ecPublicKey(EcCurve::kP256, k.p256Scalar);
    k.p384Scalar = Bytes(47, '\0') + "\x2b";
    k.p384Certificate.keyKind = CertificateKey::kEcP384;
    k.p384Certificate.ecPoint = ecPublicKey(EcCurve::kP384, k.p384Scalar);
    return k;
  }();
  return made;
}

// A signature as the key behind `certificate` makes it for the scheme
// (whatever the scheme's rules; the check is what is under test).
Bytes sign(const Certificate& certificate, std::uint16_t scheme, std::string_view content) {
  const HashAlgorithm hash = *SignatureSchemeHash(scheme);
  const Bytes digest = digestOf(hash, content);
  if (certificate.keyKind == CertificateKey::kEcP256)
    return ecdsaSignDer(EcCurve::kP256, keys().p256Scalar, hash, digest);
  if (certificate.keyKind == CertificateKey::kEcP384)
    return ecdsaSignDer(EcCurve::kP384, keys().p384Scalar, hash, digest);
  if (scheme == kSchemeRsaPkcs1Sha256 || scheme == kSchemeRsaPkcs1Sha384 || scheme == kSchemeRsaPkcs1Sha512)
    return rsaSignPkcs1Digest(keys().rsa, hash, digest);
  return rsaSignPss(keys().rsa, hash, digest, Bytes(digestSize(hash), 'S'));
}

TEST(SignatureSchemes, EachKeyMakesOnlyItsSchemes) {
  const Keys& k = keys();
  const struct {
    const char* what;
    const Certificate& certificate;
    std::uint16_t scheme;
    bool tls12;
    bool tls13;
    const char* error;  // part of the refusal when not accepted
  } cases[] = {
      {"PKCS#1 SHA-256", k.rsaCertificate, kSchemeRsaPkcs1Sha256, true, false, "in TLS 1.3"},
      {"PKCS#1 SHA-512", k.rsaCertificate, kSchemeRsaPkcs1Sha512, true, false, "in TLS 1.3"},
      {"PSS rsae SHA-256", k.rsaCertificate, kSchemeRsaPssRsaeSha256, true, true, ""},
      {"PSS rsae SHA-384", k.rsaCertificate, kSchemeRsaPssRsaeSha384, true, true, ""},
      {"PSS pss scheme, rsaEncryption key", k.rsaCertificate, kSchemeRsaPssPssSha256, false, false,
       "does not fit the certificate's RSA key"},
      {"ECDSA scheme, RSA key", k.rsaCertificate, kSchemeEcdsaSecp256r1Sha256, false, false,
       "does not fit the certificate's RSA key"},
      {"PSS pss SHA-256", k.pssCertificate, kSchemeRsaPssPssSha256, true, true, ""},
      {"PSS pss SHA-384", k.pssCertificate, kSchemeRsaPssPssSha384, true, true, ""},
      {"PSS rsae scheme, PSS key", k.pssCertificate, kSchemeRsaPssRsaeSha256, false, false,
       "does not fit the certificate's RSA-PSS key"},
      {"PKCS#1, PSS key", k.pssCertificate, kSchemeRsaPkcs1Sha256, false, false, "RSA-PSS key"},
      {"P-256 SHA-256", k.p256Certificate, kSchemeEcdsaSecp256r1Sha256, true, true, ""},
      {"P-256 key, P-384 scheme", k.p256Certificate, kSchemeEcdsaSecp384r1Sha384, true, false,
       "does not fit the certificate's ECDSA P-256 key"},
      {"P-384 SHA-384", k.p384Certificate, kSchemeEcdsaSecp384r1Sha384, true, true, ""},
      {"P-384 key, P-256 scheme", k.p384Certificate, kSchemeEcdsaSecp256r1Sha256, true, false,
       "ECDSA P-384 key"},
      {"P-384 key, SHA-512", k.p384Certificate, kSchemeEcdsaSecp521r1Sha512, true, false, "ECDSA P-384 key"},
      {"PSS scheme, EC key", k.p256Certificate, kSchemeRsaPssRsaeSha256, false, false, "ECDSA P-256 key"},
  };
  const std::string content = "client random, server random, params";
  for (const auto& c : cases) {
    const Bytes signature = sign(c.certificate, c.scheme, content);
    ASSERT_FALSE(signature.empty()) << c.what;
    for (const bool tls13 : {false, true}) {
      const bool expected = tls13 ? c.tls13 : c.tls12;
      std::string error;
      EXPECT_EQ(VerifySignatureScheme(c.certificate, c.scheme, content, signature, tls13, &error), expected)
          << c.what << (tls13 ? " (1.3)" : " (1.2)") << ": " << error;
      if (!expected) {
        EXPECT_NE(error.find(c.error), std::string::npos) << c.what << ": " << error;
      }
      if (!expected) continue;
      // The same signature over other content, or damaged, does not verify.
      EXPECT_FALSE(VerifySignatureScheme(c.certificate, c.scheme, content + "!", signature, tls13, &error));
      EXPECT_NE(error.find("does not verify"), std::string::npos) << c.what << ": " << error;
      Bytes damaged = signature;
      damaged[damaged.size() / 2] ^= 0x10;
      EXPECT_FALSE(VerifySignatureScheme(c.certificate, c.scheme, content, damaged, tls13, nullptr))
          << c.what;
    }
  }
  std::string error;
  EXPECT_FALSE(VerifySignatureScheme(k.rsaCertificate, 0x0201, content, "x", false, &error));
  EXPECT_EQ(error, "Signature scheme 0201 is not supported");
  // A key too large for the arithmetic is refused before any is done.
  Certificate huge = k.rsaCertificate;
  huge.modulus = Bytes(kMaxRsaModulusBytes + 1, '\xff');
  EXPECT_FALSE(VerifySignatureScheme(huge, kSchemeRsaPssRsaeSha256, content, "x", false, &error));
  EXPECT_NE(error.find("is not usable"), std::string::npos) << error;
}

TEST(SignatureSchemes, OfferedListsAndSchemesPerKey) {
  // TLS 1.2: the RSA schemes of the first TLS 1.2 hello keep their place.
  const std::vector<std::uint16_t> twelve = OfferedSignatureSchemes(false);
  ASSERT_GE(twelve.size(), 6u);
  EXPECT_EQ(std::vector<std::uint16_t>(twelve.begin(), twelve.begin() + 6),
            (std::vector<std::uint16_t>{0x0401, 0x0501, 0x0601, 0x0804, 0x0805, 0x0806}));
  for (const bool tls13 : {false, true}) {
    for (const std::uint16_t scheme : OfferedSignatureSchemes(tls13)) {
      EXPECT_NE(scheme, kSchemeEcdsaSecp521r1Sha512);
      EXPECT_TRUE(SignatureSchemeHash(scheme).has_value()) << scheme;
    }
  }
  EXPECT_EQ(SchemesForKey(keys().p256Certificate, true), std::vector<std::uint16_t>{0x0403});
  EXPECT_EQ(SchemesForKey(keys().pssCertificate, false),
            (std::vector<std::uint16_t>{0x0809, 0x080A, 0x080B}));
  EXPECT_EQ(SignatureSchemeName(0x0804), "rsa_pss_rsae_sha256");
  EXPECT_EQ(SignatureSchemeName(0x0203), "0203");
}

TEST(SignatureSchemes, ClientTakesThePeersFirstSchemeItCanMake) {
  ClientCredentials rsa;
  rsa.supportedSchemes = {kSchemeRsaPssRsaeSha256, kSchemeRsaPkcs1Sha256};
  const struct {
    std::vector<std::uint16_t> peer;
    bool tls13;
    std::optional<std::uint16_t> chosen;
  } cases[] = {
      {{0x0401, 0x0804}, false, 0x0401},       {{0x0401, 0x0804}, true, 0x0804},
      {{0x0401}, true, std::nullopt},          {{0x0403, 0x0809, 0x0804}, false, 0x0804},
      {{0x0403, 0x0503}, false, std::nullopt}, {{}, false, std::nullopt},
  };
  for (const auto& c : cases) EXPECT_EQ(ChooseClientScheme(rsa, c.peer, c.tls13), c.chosen);
}

TEST(ChaChaRecord, NonceIsTheIvXoredWithTheSequenceAndNothingIsSent) {
  const Bytes key(32, 'k');
  const Bytes iv = fromHex("a0a1a2a3a4a5a6a7a8a9aaab");
  ChaChaRecordCipher writer;
  ChaChaRecordCipher reader;
  ASSERT_TRUE(writer.SetKey(key, iv));
  ASSERT_TRUE(reader.SetKey(key, iv));
  EXPECT_FALSE(ChaChaRecordCipher().SetKey(key, Bytes(4, 's')));
  const std::string_view v12{"\x03\x03", 2};
  ChaCha20Poly1305 aead;
  ASSERT_TRUE(aead.setKey(key));
  for (const std::uint64_t sequence :
       {std::uint64_t{0}, std::uint64_t{1}, std::uint64_t{0x0102030405060708}}) {
    const Bytes plain = "record " + std::to_string(sequence);
    const Bytes sealed = writer.Seal(sequence, 23, v12, plain);
    ASSERT_EQ(sealed.size(), plain.size() + kChaChaRecordOverhead);
    const Bytes nonce = xorBytes(iv, Bytes(4, '\0') + sequenceBytes(sequence));
    const Bytes aad =
        sequenceBytes(sequence) + "\x17\x03\x03" + uintToBytes(static_cast<std::uint32_t>(plain.size()), 2);
    EXPECT_EQ(sealed, aead.seal(nonce, aad, plain)) << sequence;
    EXPECT_EQ(reader.Open(sequence, 23, v12, sealed), plain);
    EXPECT_FALSE(reader.Open(sequence + 1, 23, v12, sealed)) << "sequence";
    EXPECT_FALSE(reader.Open(sequence, 22, v12, sealed)) << "type";
    EXPECT_FALSE(reader.Open(sequence, 23, "\x03\x01", sealed)) << "version";
    EXPECT_FALSE(reader.Open(sequence, 23, v12, sealed.substr(0, 15))) << "shorter than the tag";
    // In place: the plaintext on success; on any refusal nothing is decrypted.
    Bytes buffer = sealed;
    ASSERT_TRUE(reader.OpenInPlace(sequence, 23, v12, buffer));
    EXPECT_EQ(buffer, plain);
    for (const std::size_t flip : {std::size_t{0}, sealed.size() - 1}) {
      Bytes damaged = sealed;
      damaged[flip] ^= 0x40;
      const Bytes before = damaged;
      EXPECT_FALSE(reader.OpenInPlace(sequence, 23, v12, damaged)) << flip;
      EXPECT_EQ(damaged, before) << flip;
    }
    Bytes shortBuffer = sealed.substr(0, 15);
    EXPECT_FALSE(reader.OpenInPlace(sequence, 23, v12, shortBuffer));
  }
  EXPECT_TRUE(ChaChaRecordCipher().Seal(0, 23, v12, "x").empty());
}

}  // namespace
}  // namespace qv
