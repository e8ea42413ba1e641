#include "crypto/aes_tables.h"

#include <atomic>
#include <memory>

namespace qv {

namespace {

std::uint8_t xtime(std::uint8_t a) {
  return static_cast<std::uint8_t>((a << 1) ^ ((a & 0x80) ? 0x1B : 0x00));
}

std::uint32_t word(std::uint8_t b0, std::uint8_t b1, std::uint8_t b2, std::uint8_t b3) {
  return (std::uint32_t{b0} << 24) | (std::uint32_t{b1} << 16) | (std::uint32_t{b2} << 8) | b3;
}

std::uint32_t rotateRight8(std::uint32_t w) { return (w >> 8) | (w << 24); }

void buildTables(AesTables& t) {
  t.inverse[0] = 0;
  for (int x = 1; x < 256; ++x) {
    for (int y = 1; y < 256; ++y) {
      if (gfMultiply(static_cast<std::uint8_t>(x), static_cast<std::uint8_t>(y)) == 1) {
        t.inverse[static_cast<std::size_t>(x)] = static_cast<std::uint8_t>(y);
        break;
      }
    }
  }
  for (int x = 0; x < 256; ++x) {
    unsigned b = t.inverse[static_cast<std::size_t>(x)];
    unsigned s = b;
    for (int k = 1; k <= 4; ++k) s ^= ((b << k) | (b >> (8 - k))) & 0xFF;
    s ^= 0x63;
    t.sbox[static_cast<std::size_t>(x)] = static_cast<std::uint8_t>(s);
  }
  for (int x = 0; x < 256; ++x) t.invSbox[t.sbox[static_cast<std::size_t>(x)]] = static_cast<std::uint8_t>(x);

  t.rcon[0] = 0;
  t.rcon[1] = 1;
  for (std::size_t k = 2; k < t.rcon.size(); ++k) t.rcon[k] = xtime(t.rcon[k - 1]);

  for (std::size_t x = 0; x < 256; ++x) {
    std::uint8_t s = t.sbox[x];
    std::uint32_t e = word(gfMultiply(s, 2), s, s, gfMultiply(s, 3));
    std::uint8_t v = t.invSbox[x];
    std::uint32_t d = word(gfMultiply(v, 14), gfMultiply(v, 9), gfMultiply(v, 13), gfMultiply(v, 11));
    for (std::size_t r = 0; r < 4; ++r) {
      t.enc[r][x] = e;
      t.dec[r][x] = d;
      e = rotateRight8(e);
      d = rotateRight8(d);
      t.encLast[r][x] = std::uint32_t{s} << (24 - 8 * r);
      t.decLast[r][x] = std::uint32_t{v} << (24 - 8 * r);
    }
  }
}

std::atomic<bool> tablesBuilt{false};

}  // namespace

std::uint8_t gfMultiply(std::uint8_t a, std::uint8_t b) {
  std::uint8_t product = 0;
  while (b != 0) {
    if (b & 1) product ^= a;
    a = xtime(a);
    b = static_cast<std::uint8_t>(b >> 1);
  }
  return product;
}

const AesTables& aesTables() {
  // A function-local static is initialised exactly once even when several
  // threads construct their first contexts at the same moment.
  static const std::unique_ptr<const AesTables> tables = [] {
    auto t = std::make_unique<AesTables>();
    buildTables(*t);
    tablesBuilt.store(true, std::memory_order_release);
    return std::unique_ptr<const AesTables>(std::move(t));
  }();
  return *tables;
}

bool aesTablesBuilt() { return tablesBuilt.load(std::memory_order_acquire); }

}  // namespace qv
