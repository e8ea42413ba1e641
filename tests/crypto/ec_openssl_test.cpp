// P-256 and P-384 against OpenSSL's libcrypto on seeded random keys and
// digests: public keys, ECDH in both directions, and signatures each way.
// The EC_KEY calls are the shortest route to raw scalars; their deprecation does not matter here.
#define OPENSSL_SUPPRESS_DEPRECATED
#include <gtest/gtest.h>

#include <openssl/bn.h>
#include <openssl/ec.h>
#include <openssl/ecdh.h>
#include <openssl/ecdsa.h>
#include <openssl/obj_mac.h>

#include <cstdlib>
#include <memory>
#include <random>

#include "crypto/digest.h"
#include "crypto/ec.h"
#include "crypto/ecdsa.h"
#include "tests/crypto/hex.h"

namespace qv {
namespace {

using test::hex;

std::uint64_t seed() {
  const char* env = std::getenv("QV_TEST_SEED");
  return env ? std::strtoull(env, nullptr, 0) : 20261209ull;
}

struct KeyDeleter {
  void operator()(EC_KEY* k) const { EC_KEY_free(k); }
};
using Key = std::unique_ptr<EC_KEY, KeyDeleter>;

struct CurveCase {
  EcCurve curve;
  int nid;
  HashAlgorithm hash;
};
const CurveCase kCurves[] = {{EcCurve::kP256, NID_X9_62_prime256v1, HashAlgorithm::kSha256},
                             {EcCurve::kP384, NID_secp384r1, HashAlgorithm::kSha384}};

class EcAgainstOpenSsl : public ::testing::TestWithParam<CurveCase> {
 protected:
  Bytes randomBytes(std::size_t n) {
    Bytes out(n, '\0');
    for (auto& c : out) c = static_cast<char>(engine_());
    return out;
  }
  Bytes privateScalar() {
    for (;;) {
      if (auto s = ecPrivateKeyFromRandom(GetParam().curve, randomBytes(ecFieldSize(GetParam().curve))))
        return *s;
    }
  }
  // OpenSSL's key for our scalar (public key computed by OpenSSL).
  Key keyFor(const Bytes& scalar) {
    Key key(EC_KEY_new_by_curve_name(GetParam().nid));
    const EC_GROUP* group = EC_KEY_get0_group(key.get());
    BIGNUM* d = BN_bin2bn(reinterpret_cast<const unsigned char*>(scalar.data()),
                          static_cast<int>(scalar.size()), nullptr);
    EC_POINT* q = EC_POINT_new(group);
    EC_POINT_mul(group, q, d, nullptr, nullptr, nullptr);
    EC_KEY_set_private_key(key.get(), d);
    EC_KEY_set_public_key(key.get(), q);
    EC_POINT_free(q);
    BN_free(d);
    return key;
  }
  static Bytes publicOf(const Key& key) {
    unsigned char buffer[133];
    const std::size_t n = EC_POINT_point2oct(EC_KEY_get0_group(key.get()), EC_KEY_get0_public_key(key.get()),
                                             POINT_CONVERSION_UNCOMPRESSED, buffer, sizeof buffer, nullptr);
    return Bytes(reinterpret_cast<const char*>(buffer), n);
  }
  Bytes theirEcdh(const Key& key, const Bytes& peer) {
    Key peerKey(EC_KEY_new_by_curve_name(GetParam().nid));
    const EC_GROUP* group = EC_KEY_get0_group(peerKey.get());
    EC_POINT* q = EC_POINT_new(group);
    EXPECT_EQ(EC_POINT_oct2point(group, q, reinterpret_cast<const unsigned char*>(peer.data()), peer.size(),
                                 nullptr),
              1);
    unsigned char out[48];
    const int n = ECDH_compute_key(out, sizeof out, q, key.get(), nullptr);
    EC_POINT_free(q);
    return n > 0 ? Bytes(reinterpret_cast<const char*>(out), static_cast<std::size_t>(n)) : Bytes();
  }

  std::mt19937_64 engine_{seed()};
};

TEST_P(EcAgainstOpenSsl, KeysAndEcdhBothWays) {
  const EcCurve curve = GetParam().curve;
  for (int i = 0; i < 24; ++i) {
    SCOPED_TRACE("seed " + std::to_string(seed()) + " round " + std::to_string(i));
    const Bytes ours = privateScalar();
    const Key ourKey = keyFor(ours);
    const Bytes ourPublic = ecPublicKey(curve, ours);
    ASSERT_EQ(hex(ourPublic), hex(publicOf(ourKey)));
    Key theirs(EC_KEY_new_by_curve_name(GetParam().nid));
    ASSERT_EQ(EC_KEY_generate_key(theirs.get()), 1);
    const Bytes theirPublic = publicOf(theirs);
    const Bytes shared = ecdh(curve, ours, theirPublic);
    ASSERT_EQ(shared.size(), ecFieldSize(curve));
    EXPECT_EQ(hex(shared), hex(theirEcdh(theirs, ourPublic)));
    EXPECT_EQ(hex(shared), hex(theirEcdh(ourKey, theirPublic)));
  }
}

TEST_P(EcAgainstOpenSsl, SignaturesEachWay) {
  const EcCurve curve = GetParam().curve;
  for (int i = 0; i < 24; ++i) {
    SCOPED_TRACE("seed " + std::to_string(seed()) + " round " + std::to_string(i));
    const Bytes scalar = privateScalar();
    const Key key = keyFor(scalar);
    const Bytes pub = publicOf(key);
    const Bytes digest = digestOf(GetParam().hash, randomBytes(1 + engine_() % 200));
    const auto* d = reinterpret_cast<const unsigned char*>(digest.data());
    const int dn = static_cast<int>(digest.size());

    const Bytes ours = ecdsaSignDer(curve, scalar, GetParam().hash, digest);
    ASSERT_FALSE(ours.empty());
    EXPECT_EQ(ECDSA_verify(0, d, dn, reinterpret_cast<const unsigned char*>(ours.data()),
                           static_cast<int>(ours.size()), key.get()),
              1);

    unsigned char theirs[160];
    unsigned int theirLength = 0;
    ASSERT_EQ(ECDSA_sign(0, d, dn, theirs, &theirLength, key.get()), 1);
    const Bytes their(reinterpret_cast<const char*>(theirs), theirLength);
    EXPECT_TRUE(ecdsaVerifyDer(curve, pub, digest, their));
    Bytes other = digest;
    other[0] = static_cast<char>(other[0] ^ 0x80);
    EXPECT_FALSE(ecdsaVerifyDer(curve, pub, other, their));
  }
}

INSTANTIATE_TEST_SUITE_P(Curves, EcAgainstOpenSsl, ::testing::ValuesIn(kCurves), [](const auto& info) {
  return info.param.curve == EcCurve::kP256 ? "P256" : "P384";
});

}  // namespace
}  // namespace qv
