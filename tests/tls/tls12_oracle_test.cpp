// TLS 1.2 key schedule and record protection checked against OpenSSL's
// libcrypto (TLS1-PRF KDF, EVP AES-GCM and AES-CBC).
#include <gtest/gtest.h>
#include <openssl/core_names.h>
#include <openssl/evp.h>
#include <openssl/kdf.h>

#include "crypto/aes.h"
#include "crypto/hmac.h"
#include "tls/cbc_record.h"
#include "tls/gcm_record.h"
#include "tls/tls12_key_schedule.h"

namespace qv {
namespace {

const unsigned char* u8(std::string_view bytes) {
  return reinterpret_cast<const unsigned char*>(bytes.data());
}

Bytes opensslPrf(const char* digest, std::string_view secret, std::string_view label, std::string_view seed,
                 std::size_t length) {
  EVP_KDF* kdf = EVP_KDF_fetch(nullptr, "TLS1-PRF", nullptr);
  EVP_KDF_CTX* context = EVP_KDF_CTX_new(kdf);
  const Bytes fullSeed = Bytes(label) + Bytes(seed);
  OSSL_PARAM params[] = {
      OSSL_PARAM_construct_utf8_string(OSSL_KDF_PARAM_DIGEST, const_cast<char*>(digest), 0),
      OSSL_PARAM_construct_octet_string(OSSL_KDF_PARAM_SECRET, const_cast<char*>(secret.data()),
                                        secret.size()),
      OSSL_PARAM_construct_octet_string(OSSL_KDF_PARAM_SEED, const_cast<char*>(fullSeed.data()),
                                        fullSeed.size()),
      OSSL_PARAM_construct_end()};
  Bytes out(length, '\0');
  const int ok = EVP_KDF_derive(context, reinterpret_cast<unsigned char*>(out.data()), length, params);
  EVP_KDF_CTX_free(context);
  EVP_KDF_free(kdf);
  return ok == 1 ? out : Bytes();
}

TEST(Tls12Oracle, KeyScheduleMatchesOpenSslPrf) {
  for (const auto& [hash, name] :
       {std::pair{HashAlgorithm::kSha256, "SHA256"}, std::pair{HashAlgorithm::kSha384, "SHA384"}}) {
    const Bytes preMaster = randomBytes(48);
    const Bytes clientRandom = randomBytes(32);
    const Bytes serverRandom = randomBytes(32);
    const Bytes master = Tls12MasterSecret(hash, preMaster, clientRandom, serverRandom);
    EXPECT_EQ(master, opensslPrf(name, preMaster, "master secret", clientRandom + serverRandom, 48)) << name;
    const Bytes sharedSecret = randomBytes(32);  // an X25519 pre-master is 32 bytes
    const Bytes sessionHash = randomBytes(hash == HashAlgorithm::kSha256 ? 32 : 48);
    EXPECT_EQ(Tls12ExtendedMasterSecret(hash, sharedSecret, sessionHash),
              opensslPrf(name, sharedSecret, "extended master secret", sessionHash, 48))
        << name;
    const Tls12KeyBlock keys = Tls12DeriveKeys(hash, master, clientRandom, serverRandom, 20, 32, 4);
    const Bytes block = opensslPrf(name, master, "key expansion", serverRandom + clientRandom, 112);
    EXPECT_EQ(keys.clientMacKey + keys.serverMacKey + keys.clientKey + keys.serverKey + keys.clientIv +
                  keys.serverIv,
              block)
        << name;
    const Bytes transcript = randomBytes(static_cast<int>(sessionHash.size()));
    EXPECT_EQ(Tls12Finished(hash, master, true, transcript),
              opensslPrf(name, master, "client finished", transcript, 12));
    EXPECT_EQ(Tls12Finished(hash, master, false, transcript),
              opensslPrf(name, master, "server finished", transcript, 12));
  }
}

TEST(Tls12Oracle, GcmRecordOpensWithOpenSsl) {
  for (const std::size_t keyLength : {16u, 32u}) {
    const Bytes key = randomBytes(static_cast<int>(keyLength));
    const Bytes salt = randomBytes(4);
    GcmRecordCipher cipher;
    ASSERT_TRUE(cipher.SetKey(key, salt));
    const Bytes plain = randomBytes(1000);
    const std::uint64_t sequence = 0x0102030405060708ull;
    const Bytes sealed = cipher.Seal(sequence, 23, "\x03\x03", plain);
    ASSERT_EQ(sealed.size(), plain.size() + 24);
    const Bytes nonce = salt + sealed.substr(0, 8);
    const Bytes aad = Bytes("\x01\x02\x03\x04\x05\x06\x07\x08\x17\x03\x03", 11) + uintToBytes(1000, 2);
    EVP_CIPHER_CTX* context = EVP_CIPHER_CTX_new();
    ASSERT_EQ(EVP_DecryptInit_ex(context, keyLength == 16 ? EVP_aes_128_gcm() : EVP_aes_256_gcm(), nullptr,
                                 u8(key), u8(nonce)),
              1);
    int n = 0;
    ASSERT_EQ(EVP_DecryptUpdate(context, nullptr, &n, u8(aad), static_cast<int>(aad.size())), 1);
    Bytes out(plain.size(), '\0');
    ASSERT_EQ(
        EVP_DecryptUpdate(context, reinterpret_cast<unsigned char*>(out.data()), &n, u8(sealed) + 8, 1000),
        1);
    Bytes tag = sealed.substr(8 + 1000);
    EVP_CIPHER_CTX_ctrl(context, EVP_CTRL_GCM_SET_TAG, 16, tag.data());
    EXPECT_EQ(EVP_DecryptFinal_ex(context, nullptr, &n), 1) << "tag";
    EVP_CIPHER_CTX_free(context);
    EXPECT_EQ(out, plain);
  }
}

TEST(Tls12Oracle, CbcRecordDecryptsWithOpenSslAndTheSentIv) {
  AesContext writer;
  writer.configure(128);
  const Bytes key = randomBytes(16);
  writer.setEncryptKey(key, randomBytes(16));
  const Bytes macKey = randomBytes(20);
  for (std::uint64_t sequence = 0; sequence < 3; ++sequence) {
    const Bytes plain = randomBytes(100);
    const Bytes sealed = SealCbcRecord(writer, macKey, sequence, 23, "\x03\x03", plain, randomBytes(16));
    ASSERT_EQ(sealed.size(), 16u + 128u);  // 100 + 20 + 8 padding
    EVP_CIPHER_CTX* context = EVP_CIPHER_CTX_new();
    EVP_DecryptInit_ex(context, EVP_aes_128_cbc(), nullptr, u8(key), u8(sealed));
    EVP_CIPHER_CTX_set_padding(context, 0);
    Bytes out(128, '\0');
    int n = 0;
    EVP_DecryptUpdate(context, reinterpret_cast<unsigned char*>(out.data()), &n, u8(sealed) + 16, 128);
    EVP_CIPHER_CTX_free(context);
    EXPECT_EQ(out.substr(0, 100), plain);
    const Bytes macInput =
        Bytes(7, '\0') + static_cast<char>(sequence) + Bytes("\x17\x03\x03\x00\x64", 5) + plain;
    EXPECT_EQ(out.substr(100, 20), hmacSha1(macKey, macInput));
    EXPECT_EQ(out.substr(120), Bytes(8, '\x07'));
  }
}

}  // namespace
}  // namespace qv
