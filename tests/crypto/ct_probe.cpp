// Constant-time probe for valgrind memcheck (scripts/ct_check.sh): the keys,
// plaintexts and MAC keys are marked undefined, so memcheck reports every
// branch and every memory index that depends on them. A clean run means no
// secret-dependent branch or table index in AES, GHASH, SHA-1/SHA-256, HMAC,
// ChaCha20 and Poly1305 on the path the run took.
#include <valgrind/memcheck.h>

#include <cstdio>
#include <string_view>

#include "crypto/aes.h"
#include "crypto/aes_gcm.h"
#include "crypto/aes_tables.h"
#include "crypto/chacha20_poly1305.h"
#include "crypto/cpu_features.h"
#include "crypto/hmac.h"
#include "crypto/poly1305.h"
#include "crypto/sha1.h"
#include "crypto/sha256.h"

namespace {

qv::Bytes secret(std::size_t n, char fill) {
  qv::Bytes s(n, fill);
  VALGRIND_MAKE_MEM_UNDEFINED(s.data(), s.size());
  return s;
}

// Keeps results alive without branching on them.
volatile char sink;
void consume(const qv::Bytes& b) {
  char x = 0;
  for (char c : b) x = static_cast<char>(x ^ c);
  sink = x;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc > 1 && std::string_view(argv[1]) == "--control") {
    // What the check must catch: a secret-indexed S-box lookup, as the old
    // table-driven AES did, and a branch on a secret byte.
    const qv::Bytes key = secret(16, '\x2b');
    const qv::AesTables& t = qv::aesTables();
    unsigned char x = t.sbox[static_cast<unsigned char>(key[0])];
    if (key[1] == 'z') x = static_cast<unsigned char>(x + 1);
    sink = static_cast<char>(x);
    return 0;
  }
  std::printf("AES path: %s, SHA path: %s, ChaCha20/Poly1305 path: %s\n",
              qv::aesHardwareActive() ? "AES-NI" : "bitsliced",
              qv::shaHardwareActive() ? "SHA extensions" : "portable",
              qv::chachaHardwareActive() ? "AVX2" : "portable");
  const qv::Bytes iv(16, '\x01');
  for (int bits : {128, 192, 256}) {
    const qv::Bytes key = secret(static_cast<std::size_t>(bits / 8), '\x2b');
    const qv::Bytes plain = secret(16 * 13, '\x6b');
    qv::AesContext enc, dec;
    enc.configure(bits);
    dec.configure(bits);
    enc.setEncryptKey(key, iv);
    dec.setDecryptKey(key, iv);
    const qv::Bytes cipher = enc.encryptCbc(plain);
    consume(cipher);
    consume(dec.decryptCbc(cipher));
    consume(enc.encryptBlock(plain.substr(0, 16)));
    consume(dec.decryptBlock(cipher.substr(0, 16)));
    unsigned char counter[16] = {};
    qv::Bytes stream(100, '\0');
    enc.encryptCtr32(counter, reinterpret_cast<const unsigned char*>(plain.data()),
                     reinterpret_cast<unsigned char*>(stream.data()), stream.size());
    consume(stream);
  }
  for (std::size_t keySize : {16, 32}) {
    qv::AesGcm gcm;
    gcm.setKey(secret(keySize, '\x11'));
    const qv::Bytes nonce(12, '\x07');
    const qv::Bytes sealed = gcm.seal(nonce, secret(13, '\x17'), secret(300, '\x33'));
    consume(sealed);
  }
  for (std::size_t keySize : {20, 64, 100}) {
    const qv::Bytes key = secret(keySize, '\x0b'), data = secret(200, '\x55');
    consume(qv::hmacSha1(key, data));
    consume(qv::hmacSha256(key, data));
    consume(qv::sha1Digest(data));
    consume(qv::sha256Digest(data));
  }
  // Lengths past the eight-block runs, with a partial block and a partial
  // chunk; the one-time key of the MAC alone too.
  for (std::size_t length : {std::size_t{100}, std::size_t{1300}}) {
    qv::ChaCha20Poly1305 aead;
    aead.setKey(secret(32, '\x42'));
    consume(aead.seal(qv::Bytes(12, '\x09'), secret(29, '\x13'), secret(length, '\x5a')));
    consume(qv::poly1305(secret(32, '\x77'), secret(length, '\x21')));
  }
  return 0;
}
