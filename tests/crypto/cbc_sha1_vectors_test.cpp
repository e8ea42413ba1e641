// AES-CBC and SHA-1 against every CAVP and Wycheproof file for them, on both paths.
#include <gtest/gtest.h>

#include "crypto/aes.h"
#include "crypto/digest.h"
#include "crypto/hmac.h"
#include "crypto/sha1.h"
#include "tests/crypto/crypto_path.h"
#include "tests/crypto/hex.h"
#include "tests/crypto/vector_files.h"

namespace qv {
namespace {

using test::fromHex;
using test::hex;

class CbcVectorPaths : public test::CryptoPathTest {};
QV_ON_BOTH_CRYPTO_PATHS(CbcVectorPaths);
class Sha1VectorPaths : public test::CryptoPathTest {};
QV_ON_BOTH_CRYPTO_PATHS(Sha1VectorPaths);

AesContext keyed(const Bytes& key, const Bytes& iv, bool encrypt) {
  AesContext c;
  c.configure(static_cast<int>(key.size() * 8));
  if (encrypt) {
    c.setEncryptKey(key, iv);
  } else {
    c.setDecryptKey(key, iv);
  }
  return c;
}

// KAT and MMT records: one CBC call each way, and block by block.
TEST_P(CbcVectorPaths, CavpKnownAnswerAndMultiBlock) {
  int checked = 0;
  for (const char* kind : {"GFSbox", "KeySbox", "VarKey", "VarTxt", "MMT"}) {
    for (const char* bits : {"128", "256"}) {
      const std::string name = std::string("vectors/nist_aes_cbc/CBC") + kind + bits + ".rsp";
      for (const auto& r : test::parseRsp(test::readTestdata(name))) {
        if (!r.count("KEY")) continue;
        const bool encrypt = r.count("ENCRYPT") != 0;
        const Bytes key = fromHex(r.at("KEY")), iv = fromHex(r.at("IV"));
        const Bytes plain = fromHex(r.at("PLAINTEXT")), cipher = fromHex(r.at("CIPHERTEXT"));
        AesContext whole = keyed(key, iv, encrypt);
        AesContext pieces = keyed(key, iv, encrypt);
        const Bytes& in = encrypt ? plain : cipher;
        Bytes joined;
        for (std::size_t at = 0; at < in.size(); at += 16)
          joined += encrypt ? pieces.encryptCbc(in.substr(at, 16)) : pieces.decryptCbc(in.substr(at, 16));
        const Bytes out = encrypt ? whole.encryptCbc(in) : whole.decryptCbc(in);
        ASSERT_EQ(hex(out), hex(encrypt ? cipher : plain)) << name << " COUNT=" << r.at("COUNT");
        ASSERT_EQ(joined, out) << name << " COUNT=" << r.at("COUNT");
        ++checked;
      }
    }
  }
  EXPECT_GT(checked, 1000);
}

// Monte Carlo: 1000 chained blocks per record, both directions alike: one
// CBC stream whose next input is the output before last (the IV first).
TEST_P(CbcVectorPaths, CavpMonteCarlo) {
  for (const char* bits : {"128", "256"}) {
    const std::string name = std::string("vectors/nist_aes_cbc/CBCMCT") + bits + ".rsp";
    int checked = 0;
    for (const auto& r : test::parseRsp(test::readTestdata(name))) {
      if (!r.count("KEY")) continue;
      const bool encrypt = r.count("ENCRYPT") != 0;
      const Bytes iv = fromHex(r.at("IV"));
      AesContext c = keyed(fromHex(r.at("KEY")), iv, encrypt);
      Bytes in = fromHex(encrypt ? r.at("PLAINTEXT") : r.at("CIPHERTEXT"));
      Bytes previous = iv, out;
      for (int j = 0; j < 1000; ++j) {
        out = encrypt ? c.encryptCbc(in) : c.decryptCbc(in);
        in = j == 0 ? iv : previous;
        previous = out;
      }
      ASSERT_EQ(hex(out), r.at(encrypt ? "CIPHERTEXT" : "PLAINTEXT")) << name << " COUNT=" << r.at("COUNT");
      ++checked;
    }
    EXPECT_EQ(checked, 200) << name;
  }
}

// Wycheproof's CBC with PKCS #7 padding: the padding is the record layer's
// business, the cipher must produce exactly the listed blocks.
TEST_P(CbcVectorPaths, WycheproofPkcs5) {
  const test::Json root = test::readWycheproof("aes_cbc_pkcs5_test.json");
  int valid = 0, invalid = 0;
  for (const auto& group : root["testGroups"].items) {
    for (const auto& t : group["tests"].items) {
      const std::string id = "tcId " + std::to_string(t["tcId"].integer());
      const Bytes key = fromHex(t["key"].str()), iv = fromHex(t["iv"].str());
      const Bytes ct = fromHex(t["ct"].str());
      AesContext dec = keyed(key, iv, false);
      const Bytes plain = dec.decryptCbc(ct);
      if (t["result"].str() == "valid") {
        Bytes padded = fromHex(t["msg"].str());
        padded.append(16 - padded.size() % 16, static_cast<char>(16 - padded.size() % 16));
        AesContext enc = keyed(key, iv, true);
        ASSERT_EQ(hex(enc.encryptCbc(padded)), t["ct"].str()) << id;
        ASSERT_EQ(hex(plain), hex(padded)) << id;
        ++valid;
        continue;
      }
      // Refused for its padding (or a length that is not whole blocks).
      bool padOk = !plain.empty() && ct.size() % 16 == 0;
      if (padOk) {
        const auto pad = static_cast<unsigned char>(plain.back());
        padOk = pad >= 1 && pad <= 16;
        for (std::size_t k = 0; padOk && k < pad; ++k)
          padOk = static_cast<unsigned char>(plain[plain.size() - 1 - k]) == pad;
      }
      EXPECT_FALSE(padOk) << id;
      ++invalid;
    }
  }
  EXPECT_GT(valid, 60);
  EXPECT_GT(invalid, 20);
}

TEST_P(Sha1VectorPaths, CavpShortLongAndMonteCarlo) {
  int checked = 0;
  for (const char* kind : {"ShortMsg", "LongMsg"}) {
    const std::string name = std::string("vectors/nist_sha1/SHA1") + kind + ".rsp";
    for (const auto& r : test::parseRsp(test::readTestdata(name))) {
      if (!r.count("Msg")) continue;
      const Bytes msg = fromHex(r.at("Msg")).substr(0, std::stoul(r.at("Len")) / 8);
      ASSERT_EQ(hex(sha1Digest(msg)), r.at("MD")) << name << " Len=" << r.at("Len");
      ++checked;
    }
  }
  EXPECT_GT(checked, 120);
  const auto records = test::parseRsp(test::readTestdata("vectors/nist_sha1/SHA1Monte.rsp"));
  ASSERT_FALSE(records.empty());
  Bytes seed = fromHex(records.front().at("Seed"));
  int rounds = 0;
  for (const auto& r : records) {
    if (!r.count("MD")) continue;
    Bytes md[3] = {seed, seed, seed};
    for (int i = 3; i < 1003; ++i) {
      Sha1Context context;
      context.update(md[0]);
      context.update(md[1]);
      context.update(md[2]);
      md[0] = std::move(md[1]);
      md[1] = std::move(md[2]);
      md[2] = context.finish();
    }
    seed = md[2];
    ASSERT_EQ(hex(seed), r.at("MD")) << "COUNT=" << r.at("COUNT");
    ++rounds;
  }
  EXPECT_EQ(rounds, 100);
}

TEST_P(Sha1VectorPaths, HmacSha1CavpAndWycheproof) {
  int checked = 0;
  for (const auto& r : test::parseRsp(test::readTestdata("vectors/nist_hmac/HMAC.rsp"))) {
    if (!r.count("Mac") || r.at("L") != "20") continue;
    const Bytes mac = hmacSha1(fromHex(r.at("Key")), fromHex(r.at("Msg")));
    ASSERT_EQ(hex(mac.substr(0, std::stoul(r.at("Tlen")))), r.at("Mac")) << "Count=" << r.at("Count");
    ++checked;
  }
  EXPECT_GT(checked, 60);
  const test::Json root = test::readWycheproof("hmac_sha1_test.json");
  int wycheproof = 0;
  for (const auto& group : root["testGroups"].items) {
    const std::size_t tagBytes = static_cast<std::size_t>(group["tagSize"].integer() / 8);
    for (const auto& t : group["tests"].items) {
      const Bytes mac = hmacSha1(fromHex(t["key"].str()), fromHex(t["msg"].str()));
      ASSERT_EQ(hex(mac.substr(0, tagBytes)) == t["tag"].str(), t["result"].str() == "valid")
          << "tcId " << t["tcId"].integer();
      ++wycheproof;
    }
  }
  EXPECT_GT(wycheproof, 100);
}

}  // namespace
}  // namespace qv
