// P-256 and P-384: RFC 6979's deterministic signatures, Wycheproof's ECDSA
// and ECDH sets, and the edges of point, scalar and DER handling.
#include <gtest/gtest.h>

#include "crypto/digest.h"
#include "crypto/ec.h"
#include "crypto/ecdsa.h"
#include "crypto/ecdsa_der.h"
#include "tests/crypto/hex.h"
#include "tests/crypto/vector_files.h"

namespace qv {
namespace {

using test::fromHex;
using test::hex;

constexpr const char* kP256Order = "ffffffff00000000ffffffffffffffffbce6faada7179e84f3b9cac2fc632551";
constexpr const char* kP384Order =
    "ffffffffffffffffffffffffffffffffffffffffffffffffc7634d81f4372ddf581a0db248b0a77aecec196accc52973";
constexpr const char* kP256Prime = "ffffffff00000001000000000000000000000000ffffffffffffffffffffffff";
constexpr const char* kP256G =
    "046b17d1f2e12c4247f8bce6e563a440f277037d812deb33a0f4a13945d898c2964fe342e2fe1a7f9b8ee7eb4a7c0f9e16"
    "2bce33576b315ececbb6406837bf51f5";

// A big-endian value as exactly `size` bytes (Wycheproof pads with a zero).
Bytes fixedWidth(std::string_view bytes, std::size_t size) {
  while (bytes.size() > size && bytes[0] == 0) bytes.remove_prefix(1);
  return Bytes(size - std::min(size, bytes.size()), '\0') + Bytes(bytes);
}

// RFC 6979 A.2.5 and A.2.6: public key from the private one, then every
// hash over "sample" and "test" gives the published (r, s), which verifies.
struct Rfc6979Key {
  EcCurve curve;
  const char* x;
  const char* publicPoint;
};
struct Rfc6979Case {
  int key;
  HashAlgorithm hash;
  const char* message;
  const char* r;
  const char* s;
};

const Rfc6979Key kRfc6979Keys[] = {
    {EcCurve::kP256, "c9afa9d845ba75166b5c215767b1d6934e50c3db36e89b127b8a622b120f6721",
     "0460fed4ba255a9d31c961eb74c6356d68c049b8923b61fa6ce669622e60f29fb67903fe1008b8bc99a41ae9e95628bc64"
     "f2f1b20c2d7e9f5177a3c294d4462299"},
    {EcCurve::kP384,
     "6b9d3dad2e1b8c1c05b19875b6659f4de23c3b667bf297ba9aa47740787137d896d5724e4c70a825f872c9ea60d2edf5",
     "04ec3a4e415b4e19a4568618029f427fa5da9a8bc4ae92e02e06aae5286b300c64def8f0ea9055866064a254515480bc13"
     "8015d9b72d7d57244ea8ef9ac0c621896708a59367f9dfb9f54ca84b3f1c9db1288b231c3ae0d4fe7344fd2533264720"},
};

const Rfc6979Case kRfc6979Cases[] = {
    {0, HashAlgorithm::kSha1, "sample", "61340C88C3AAEBEB4F6D667F672CA9759A6CCAA9FA8811313039EE4A35471D32",
     "6D7F147DAC089441BB2E2FE8F7A3FA264B9C475098FDCF6E00D7C996E1B8B7EB"},
    {0, HashAlgorithm::kSha256, "sample", "EFD48B2AACB6A8FD1140DD9CD45E81D69D2C877B56AAF991C34D0EA84EAF3716",
     "F7CB1C942D657C41D436C7A1B6E29F65F3E900DBB9AFF4064DC4AB2F843ACDA8"},
    {0, HashAlgorithm::kSha384, "sample", "0EAFEA039B20E9B42309FB1D89E213057CBF973DC0CFC8F129EDDDC800EF7719",
     "4861F0491E6998B9455193E34E7B0D284DDD7149A74B95B9261F13ABDE940954"},
    {0, HashAlgorithm::kSha512, "sample", "8496A60B5E9B47C825488827E0495B0E3FA109EC4568FD3F8D1097678EB97F00",
     "2362AB1ADBE2B8ADF9CB9EDAB740EA6049C028114F2460F96554F61FAE3302FE"},
    {0, HashAlgorithm::kSha1, "test", "0CBCC86FD6ABD1D99E703E1EC50069EE5C0B4BA4B9AC60E409E8EC5910D81A89",
     "01B9D7B73DFAA60D5651EC4591A0136F87653E0FD780C3B1BC872FFDEAE479B1"},
    {0, HashAlgorithm::kSha256, "test", "F1ABB023518351CD71D881567B1EA663ED3EFCF6C5132B354F28D3B0B7D38367",
     "019F4113742A2B14BD25926B49C649155F267E60D3814B4C0CC84250E46F0083"},
    {0, HashAlgorithm::kSha384, "test", "83910E8B48BB0C74244EBDF7F07A1C5413D61472BD941EF3920E623FBCCEBEB6",
     "8DDBEC54CF8CD5874883841D712142A56A8D0F218F5003CB0296B6B509619F2C"},
    {0, HashAlgorithm::kSha512, "test", "461D93F31B6540894788FD206C07CFA0CC35F46FA3C91816FFF1040AD1581A04",
     "39AF9F15DE0DB8D97E72719C74820D304CE5226E32DEDAE67519E840D1194E55"},
    {1, HashAlgorithm::kSha1, "sample",
     "EC748D839243D6FBEF4FC5C4859A7DFFD7F3ABDDF72014540C16D73309834FA37B9BA002899F6FDA3A4A9386790D4EB2",
     "A3BCFA947BEEF4732BF247AC17F71676CB31A847B9FF0CBC9C9ED4C1A5B3FACF26F49CA031D4857570CCB5CA4424A443"},
    {1, HashAlgorithm::kSha256, "sample",
     "21B13D1E013C7FA1392D03C5F99AF8B30C570C6F98D4EA8E354B63A21D3DAA33BDE1E888E63355D92FA2B3C36D8FB2CD",
     "F3AA443FB107745BF4BD77CB3891674632068A10CA67E3D45DB2266FA7D1FEEBEFDC63ECCD1AC42EC0CB8668A4FA0AB0"},
    {1, HashAlgorithm::kSha384, "sample",
     "94EDBB92A5ECB8AAD4736E56C691916B3F88140666CE9FA73D64C4EA95AD133C81A648152E44ACF96E36DD1E80FABE46",
     "99EF4AEB15F178CEA1FE40DB2603138F130E740A19624526203B6351D0A3A94FA329C145786E679E7B82C71A38628AC8"},
    {1, HashAlgorithm::kSha512, "sample",
     "ED0959D5880AB2D869AE7F6C2915C6D60F96507F9CB3E047C0046861DA4A799CFE30F35CC900056D7C99CD7882433709",
     "512C8CCEEE3890A84058CE1E22DBC2198F42323CE8ACA9135329F03C068E5112DC7CC3EF3446DEFCEB01A45C2667FDD5"},
    {1, HashAlgorithm::kSha1, "test",
     "4BC35D3A50EF4E30576F58CD96CE6BF638025EE624004A1F7789A8B8E43D0678ACD9D29876DAF46638645F7F404B11C7",
     "D5A6326C494ED3FF614703878961C0FDE7B2C278F9A65FD8C4B7186201A2991695BA1C84541327E966FA7B50F7382282"},
    {1, HashAlgorithm::kSha256, "test",
     "6D6DEFAC9AB64DABAFE36C6BF510352A4CC27001263638E5B16D9BB51D451559F918EEDAF2293BE5B475CC8F0188636B",
     "2D46F3BECBCC523D5F1A1256BF0C9B024D879BA9E838144C8BA6BAEB4B53B47D51AB373F9845C0514EEFB14024787265"},
    {1, HashAlgorithm::kSha384, "test",
     "8203B63D3C853E8D77227FB377BCF7B7B772E97892A80F36AB775D509D7A5FEB0542A7F0812998DA8F1DD3CA3CF023DB",
     "DDD0760448D42D8A43AF45AF836FCE4DE8BE06B485E9B61B827C2F13173923E06A739F040649A667BF3B828246BAA5A5"},
    {1, HashAlgorithm::kSha512, "test",
     "A0D5D090C9980FAF3C2CE57B7AE951D31977DD11C775D314AF55F76C676447D06FB6495CD21B4B6E340FC236584FB277",
     "976984E59B4C77B0E8E4460DCA3D9F20E07B9BB1F63BEEFAF576F6B2E8B224634A2092CD3792E0159AD9CEE37659C736"},
};

TEST(Ecdsa, Rfc6979DeterministicSignatures) {
  for (const Rfc6979Key& key : kRfc6979Keys)
    EXPECT_EQ(hex(ecPublicKey(key.curve, fromHex(key.x))), key.publicPoint);
  for (const Rfc6979Case& c : kRfc6979Cases) {
    const Rfc6979Key& key = kRfc6979Keys[c.key];
    SCOPED_TRACE(std::string(c.message) + " hash " + std::to_string(static_cast<int>(c.hash)) + " key " +
                 std::to_string(c.key));
    const Bytes digest = digestOf(c.hash, c.message);
    const Bytes signature = ecdsaSignDer(key.curve, fromHex(key.x), c.hash, digest);
    EXPECT_EQ(hex(signature), hex(encodeEcdsaSignatureDer(fromHex(c.r), fromHex(c.s))));
    EXPECT_TRUE(ecdsaVerifyDer(key.curve, fromHex(key.publicPoint), digest, signature));
    EXPECT_TRUE(ecdsaVerify(key.curve, fromHex(key.publicPoint), digest, fromHex(c.r), fromHex(c.s)));
    // Another message under the same signature fails.
    EXPECT_FALSE(ecdsaVerifyDer(key.curve, fromHex(key.publicPoint), digestOf(c.hash, "samplf"), signature));
  }
}

// The uncompressed point inside a SubjectPublicKeyInfo of a named curve,
// or empty when the encoding is anything else (other curves, explicit
// parameters, any DER variation).
Bytes pointFromSpki(EcCurve curve, std::string_view spki) {
  const Bytes prefix =
      fromHex(curve == EcCurve::kP256 ? "3059301306072a8648ce3d020106082a8648ce3d030107034200"
                                      : "3076301006072a8648ce3d020106052b81040022036200");
  if (spki.substr(0, prefix.size()) != prefix) return {};
  return Bytes(spki.substr(prefix.size()));
}

struct WycheproofFile {
  const char* name;
  EcCurve curve;
  bool p1363;  // r || s of the field size each, else DER
  int tests;
};

TEST(Ecdsa, WycheproofVerify) {
  const WycheproofFile files[] = {
      {"ecdsa_secp256r1_sha256_test.json", EcCurve::kP256, false, 484},
      {"ecdsa_secp256r1_sha256_p1363_test.json", EcCurve::kP256, true, 262},
      {"ecdsa_secp384r1_sha384_test.json", EcCurve::kP384, false, 504},
      {"ecdsa_secp384r1_sha384_p1363_test.json", EcCurve::kP384, true, 280},
  };
  for (const WycheproofFile& file : files) {
    const test::Json root = test::readWycheproof(file.name);
    const HashAlgorithm hash = file.curve == EcCurve::kP256 ? HashAlgorithm::kSha256 : HashAlgorithm::kSha384;
    const std::size_t size = ecFieldSize(file.curve);
    int checked = 0;
    for (const auto& group : root["testGroups"].items) {
      const Bytes point = fromHex(group["publicKey"]["uncompressed"].str());
      ASSERT_TRUE(ecPointIsValid(file.curve, point)) << file.name;
      for (const auto& t : group["tests"].items) {
        const std::string id = std::string(file.name) + " tcId " + std::to_string(t["tcId"].integer()) + " " +
                               t["comment"].str();
        ASSERT_NE(t["result"].str(), "acceptable") << id;
        const Bytes digest = digestOf(hash, fromHex(t["msg"].str()));
        const Bytes sig = fromHex(t["sig"].str());
        bool ok;
        if (file.p1363) {
          ok = sig.size() == 2 * size &&
               ecdsaVerify(file.curve, point, digest, std::string_view(sig).substr(0, size),
                           std::string_view(sig).substr(size));
        } else {
          ok = ecdsaVerifyDer(file.curve, point, digest, sig);
        }
        EXPECT_EQ(ok, t["result"].str() == "valid") << id;
        ++checked;
      }
    }
    EXPECT_EQ(checked, file.tests) << file.name;
  }
}

// Every valid case gives the published secret, every invalid one nothing;
// acceptable ones (compressed points, odd DER) may go either way but never
// to a different secret.
TEST(Ecdh, Wycheproof) {
  const WycheproofFile files[] = {
      {"ecdh_secp256r1_test.json", EcCurve::kP256, false, 612},
      {"ecdh_secp256r1_ecpoint_test.json", EcCurve::kP256, true, 355},
      {"ecdh_secp384r1_test.json", EcCurve::kP384, false, 1047},
      {"ecdh_secp384r1_ecpoint_test.json", EcCurve::kP384, true, 790},
  };
  for (const WycheproofFile& file : files) {
    const test::Json root = test::readWycheproof(file.name);
    int checked = 0;
    for (const auto& group : root["testGroups"].items) {
      for (const auto& t : group["tests"].items) {
        const std::string id = std::string(file.name) + " tcId " + std::to_string(t["tcId"].integer()) + " " +
                               t["comment"].str();
        const Bytes raw = fromHex(t["public"].str());
        // The ecpoint files carry the bare point; the others a SubjectPublicKeyInfo.
        const Bytes point = file.p1363 ? raw : pointFromSpki(file.curve, raw);
        const Bytes priv = fixedWidth(fromHex(t["private"].str()), ecFieldSize(file.curve));
        const Bytes shared = ecdh(file.curve, priv, point);
        const std::string& result = t["result"].str();
        if (result == "valid") {
          EXPECT_EQ(hex(shared), t["shared"].str()) << id;
        } else if (result == "invalid") {
          EXPECT_TRUE(shared.empty()) << id;
        } else if (!shared.empty()) {
          EXPECT_EQ(hex(shared), t["shared"].str()) << id;
        }
        EXPECT_EQ(ecPointIsValid(file.curve, point), !shared.empty()) << id;
        ++checked;
      }
    }
    EXPECT_EQ(checked, file.tests) << file.name;
  }
}

TEST(Ecdh, PrivateScalarRange) {
  struct Case {
    EcCurve curve;
    Bytes scalar;
    bool valid;
  };
  const Bytes n256 = fromHex(kP256Order);
  const Bytes n384 = fromHex(kP384Order);
  Bytes n256m1 = n256;
  n256m1.back() = static_cast<char>(n256m1.back() - 1);
  Bytes n384m1 = n384;
  n384m1.back() = static_cast<char>(n384m1.back() - 1);
  const Case cases[] = {
      {EcCurve::kP256, Bytes(32, '\0'), false},
      {EcCurve::kP256, n256, false},
      {EcCurve::kP256, Bytes(32, '\xff'), false},
      {EcCurve::kP256, Bytes(31, '\x01'), false},
      {EcCurve::kP256, Bytes(33, '\x01'), false},
      {EcCurve::kP256, fixedWidth("\x01", 32), true},
      {EcCurve::kP256, n256m1, true},
      {EcCurve::kP384, Bytes(48, '\0'), false},
      {EcCurve::kP384, n384, false},
      {EcCurve::kP384, Bytes(32, '\x01'), false},
      {EcCurve::kP384, fixedWidth("\x01", 48), true},
      {EcCurve::kP384, n384m1, true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(hex(c.scalar));
    EXPECT_EQ(ecPrivateKeyFromRandom(c.curve, c.scalar).has_value(), c.valid);
    const Bytes pub = ecPublicKey(c.curve, c.scalar);
    EXPECT_EQ(pub.empty(), !c.valid);
    if (!c.valid) continue;
    EXPECT_TRUE(ecPointIsValid(c.curve, pub));
    // 1 * G = G; (n - 1) * G = -G: the same x, and ECDH against G gives that x.
    EXPECT_EQ(ecdh(c.curve, c.scalar, ecPublicKey(c.curve, fixedWidth("\x01", ecFieldSize(c.curve)))),
              pub.substr(1, ecFieldSize(c.curve)));
  }
  EXPECT_EQ(hex(ecPublicKey(EcCurve::kP256, fixedWidth("\x01", 32))), kP256G);
  EXPECT_EQ(ecPublicKey(EcCurve::kP256, n256m1).substr(0, 33), fromHex(kP256G).substr(0, 33));
  EXPECT_TRUE(ecdh(EcCurve::kP256, Bytes(32, '\0'), fromHex(kP256G)).empty());
}

TEST(Ecdh, PeerPointEncodings) {
  const Bytes g = fromHex(kP256G);
  Bytes offCurve = g;
  offCurve.back() = static_cast<char>(offCurve.back() ^ 1);
  Bytes compressed = g.substr(0, 33);
  compressed[0] = 0x02;
  // x = p: the coordinate is out of range even though p = 0 mod p.
  const Bytes xIsP = Bytes("\x04", 1) + fromHex(kP256Prime) + g.substr(33);
  const Bytes zero = Bytes("\x04", 1) + Bytes(64, '\0');
  const Bytes hybrid = Bytes("\x06", 1) + g.substr(1);
  const Bytes cases[] = {
      Bytes(), Bytes("\x00", 1), g.substr(0, 64), g + '\0', offCurve, compressed, xIsP, zero, hybrid};
  const Bytes scalar = fixedWidth("\x05", 32);
  for (const Bytes& point : cases) {
    SCOPED_TRACE(hex(point));
    EXPECT_FALSE(ecPointIsValid(EcCurve::kP256, point));
    EXPECT_TRUE(ecdh(EcCurve::kP256, scalar, point).empty());
  }
  EXPECT_TRUE(ecPointIsValid(EcCurve::kP256, g));
  // A P-256 point is no P-384 point.
  EXPECT_FALSE(ecPointIsValid(EcCurve::kP384, g));
}

TEST(EcdsaDer, StrictParsing) {
  struct Case {
    const char* der;
    bool valid;
  };
  const Case cases[] = {
      {"3006020101020102", true},
      {"300802020080020200ff", true},     // zero needed before a top bit
      {"3006020101020102 00", false},     // trailing byte
      {"3007020101020102", false},        // length past the end
      {"3005020101020102", false},        // length short of the contents
      {"308106020101020102", false},      // long form for a short length
      {"3080020101020102 0000", false},   // indefinite length
      {"30060201010201 02", true},        // (same as the first, spaced)
      {"300702020001020102", false},      // non-minimal integer
      {"3006020181020102", false},        // negative integer
      {"30050200020102", false},          // empty integer
      {"3106020101020102", false},        // SET, not SEQUENCE
      {"3006030101020102", false},        // BIT STRING, not INTEGER
      {"3009020101020102020103", false},  // three integers
      {"3003020101", false},              // one integer
      {"", false},
      {"30", false},
      {"3000", false},
      {"30820006020101020102", false},  // two-byte length for a short one
      {"3006028101020102", false},      // long-form integer length
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.der);
    EXPECT_EQ(parseEcdsaSignatureDer(fromHex(c.der)).has_value(), c.valid);
  }
  // The parts point into the DER, which must outlive them.
  const Bytes der = fromHex("300802020080020200ff");
  const auto parts = parseEcdsaSignatureDer(der);
  ASSERT_TRUE(parts);
  EXPECT_EQ(hex(parts->r), "0080");
  EXPECT_EQ(hex(parts->s), "00ff");
  // Encoding strips redundant zeros and adds the needed one.
  EXPECT_EQ(hex(encodeEcdsaSignatureDer(fromHex("000080"), fromHex("01"))), "300702020080020101");
}

// r and s as raw big-endian strings: leading zeros up to 66 bytes are only
// padding; zero, n and anything longer fail.
TEST(Ecdsa, RawScalarEdges) {
  const Rfc6979Key& key = kRfc6979Keys[0];
  const Rfc6979Case& c = kRfc6979Cases[1];
  const Bytes pub = fromHex(key.publicPoint);
  const Bytes digest = digestOf(c.hash, c.message);
  const Bytes r = fromHex(c.r), s = fromHex(c.s);
  struct Case {
    Bytes r, s;
    bool valid;
  };
  const Case cases[] = {
      {r, s, true},
      {Bytes(34, '\0') + r, s, true},
      {r, Bytes(34, '\0') + s, true},
      {Bytes(35, '\0') + r, s, false},  // 67 bytes
      {Bytes(), s, false},
      {Bytes(32, '\0'), s, false},
      {fromHex(kP256Order), s, false},
      {r, fromHex(kP256Order), false},
      {Bytes("\x01", 1) + r, s, false},  // r + 2^256
  };
  for (const Case& t : cases) {
    SCOPED_TRACE(hex(t.r) + " / " + hex(t.s));
    EXPECT_EQ(ecdsaVerify(EcCurve::kP256, pub, digest, t.r, t.s), t.valid);
  }
  // A valid signature under a point that is not on the curve fails.
  Bytes offCurve = pub;
  offCurve.back() = static_cast<char>(offCurve.back() ^ 1);
  EXPECT_FALSE(ecdsaVerify(EcCurve::kP256, offCurve, digest, r, s));
}

// FIPS 186-4: a digest longer than n keeps its leftmost bits, a shorter one
// is taken whole; signing and verifying agree for every length.
TEST(Ecdsa, AnyDigestLength) {
  const Bytes key = fromHex(kRfc6979Keys[0].x);
  const Bytes pub = fromHex(kRfc6979Keys[0].publicPoint);
  const Bytes sha512 = digestOf(HashAlgorithm::kSha512, "sample");
  const Bytes sig512 = ecdsaSignDer(EcCurve::kP256, key, HashAlgorithm::kSha512, sha512);
  // Only the leftmost 256 bits count.
  EXPECT_TRUE(ecdsaVerifyDer(EcCurve::kP256, pub, sha512.substr(0, 32), sig512));
  Bytes changedTail = sha512;
  changedTail.back() = static_cast<char>(changedTail.back() ^ 1);
  EXPECT_TRUE(ecdsaVerifyDer(EcCurve::kP256, pub, changedTail, sig512));
  for (std::size_t length : {0u, 1u, 20u, 31u, 33u, 64u, 100u}) {
    SCOPED_TRACE(length);
    const Bytes digest = Bytes(length, '\x5a');
    const Bytes sig =
        ecdsaSignDer(EcCurve::kP384, fromHex(kRfc6979Keys[1].x), HashAlgorithm::kSha256, digest);
    EXPECT_TRUE(ecdsaVerifyDer(EcCurve::kP384, fromHex(kRfc6979Keys[1].publicPoint), digest, sig));
  }
  EXPECT_TRUE(ecdsaSignDer(EcCurve::kP256, Bytes(32, '\0'), HashAlgorithm::kSha256, sha512).empty());
}

}  // namespace
}  // namespace qv
