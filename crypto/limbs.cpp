#include "crypto/limbs.h"

#include <algorithm>
#include <array>
#include <bit>
#include <cstring>

namespace qv::limbs {

namespace {

using Cells = std::vector<std::uint64_t>;

// Schoolbook products, formed column by column: column t is the cell that
// collects every product a[i] * b[t - i] (low halves count at word t, high
// halves at t + 1), and a carry pass right behind the columns emits one word
// per column and carries the rest into the next. Summing a cell in registers
// avoids the memory traffic of filling a cell array row by row; a cell cannot
// overflow because its accumulator has a third word counting the double-word
// overflows.
template <typename Word, typename Wide>
struct Schoolbook {
  static constexpr int kBits = 8 * sizeof(Word);

  // sum + top * 2^(2 kBits).
  struct Column {
    Wide sum = 0;
    Word top = 0;
    void add(Wide p) {
      sum += p;
      top += static_cast<Word>(sum < p);
    }
    void add(const Column& c) {
      add(c.sum);
      top += c.top;
    }
  };

  static Column sum(const Word* a, const Word* b, std::size_t i0, std::size_t i1, std::size_t t) {
    Column c, d;  // two chains for instruction-level parallelism
    std::size_t i = i0;
    for (; i + 1 < i1; i += 2) {
      c.add(static_cast<Wide>(a[i]) * b[t - i]);
      d.add(static_cast<Wide>(a[i + 1]) * b[t - i - 1]);
    }
    if (i < i1) c.add(static_cast<Wide>(a[i]) * b[t - i]);
    c.add(d);
    return c;
  }

  // Emits the low word of (column + carry) and keeps the rest as carry.
  struct CarryPass {
    Column carry;
    Word emit(const Column& c) {
      carry.add(c);
      const Word w = static_cast<Word>(carry.sum);
      carry.sum = (carry.sum >> kBits) | (static_cast<Wide>(carry.top) << kBits);
      carry.top = 0;
      return w;
    }
  };

  static Column column(const Word* a, std::size_t na, const Word* b, std::size_t nb, std::size_t t) {
    const std::size_t i0 = t + 1 > nb ? t + 1 - nb : 0;
    const std::size_t i1 = std::min(t + 1, na);
    return i0 < i1 ? sum(a, b, i0, i1, t) : Column{};
  }

  // out[0..na+nb) = a * b.
  static void multiply(const Word* a, std::size_t na, const Word* b, std::size_t nb, Word* out) {
    const std::size_t n = na + nb;
    if (na == 0 || nb == 0) {
      std::fill_n(out, n, Word{0});
      return;
    }
    CarryPass pass;
    for (std::size_t t = 0; t + 1 < n; ++t) out[t] = pass.emit(column(a, na, b, nb, t));
    out[n - 1] = pass.emit(Column{});
  }

  // out[0..2n) = a * a: pairs i < j counted once and doubled, then the squares.
  static void square(const Word* a, std::size_t n, Word* out) {
    if (n == 0) return;
    const std::size_t n2 = 2 * n;
    CarryPass pass;
    for (std::size_t t = 0; t + 1 < n2; ++t) {
      const std::size_t i0 = t + 1 > n ? t + 1 - n : 0;
      const std::size_t i1 = (t + 1) / 2;  // i < t - i
      Column c = i0 < i1 ? sum(a, a, i0, i1, t) : Column{};
      c.top = static_cast<Word>((c.top << 1) | static_cast<Word>(c.sum >> (2 * kBits - 1)));
      c.sum <<= 1;
      if (t % 2 == 0) c.add(static_cast<Wide>(a[t / 2]) * a[t / 2]);
      out[t] = pass.emit(c);
    }
    out[n2 - 1] = pass.emit(Column{});
  }

  // out[0..nOut) = (a * b) mod 2^(kBits * nOut).
  static void multiplyLow(const Word* a, std::size_t na, const Word* b, std::size_t nb, Word* out,
                          std::size_t nOut) {
    CarryPass pass;
    for (std::size_t t = 0; t < nOut; ++t) out[t] = pass.emit(column(a, na, b, nb, t));
  }

  // Words from `from` upward, from the columns at and above from - 2 only.
  static void multiplyHigh(const Word* a, std::size_t na, const Word* b, std::size_t nb, Word* out,
                           std::size_t from) {
    const std::size_t n = na + nb;
    if (from >= n) return;
    CarryPass pass;
    for (std::size_t t = from > 2 ? from - 2 : 0; t < n; ++t) {
      const Word w = pass.emit(column(a, na, b, nb, t));
      if (t >= from) out[t - from] = w;
    }
  }
};

using Narrow = Schoolbook<Limb, std::uint64_t>;

#if defined(__SIZEOF_INT128__)
__extension__ typedef unsigned __int128 Uint128;
using Wide = Schoolbook<std::uint64_t, Uint128>;

// Limb pairs as 64-bit words, low limb first.
std::uint64_t* pack(const Limb* a, std::size_t n, std::uint64_t* words) {
  std::size_t i = 0;
  for (; 2 * i + 1 < n; ++i) words[i] = a[2 * i] | (std::uint64_t{a[2 * i + 1]} << 32);
  if (2 * i < n) words[i] = a[2 * i];
  return words;
}

// nLimbs limbs from the words, starting `skip` (0 or 1) limbs in.
void unpack(const std::uint64_t* words, Limb* out, std::size_t nLimbs, std::size_t skip = 0) {
  std::size_t k = 0;
  if (skip != 0 && nLimbs != 0) out[k++] = static_cast<Limb>(words[0] >> 32);
  const std::uint64_t* w = words + skip;
  for (; k + 2 <= nLimbs; k += 2, ++w) {
    out[k] = static_cast<Limb>(*w);
    out[k + 1] = static_cast<Limb>(*w >> 32);
  }
  if (k < nLimbs) out[k] = static_cast<Limb>(*w);
}

inline std::size_t wordsOf(std::size_t limbCount) { return (limbCount + 1) / 2; }
#endif

}  // namespace

namespace narrow {
void multiply(const Limb* a, std::size_t na, const Limb* b, std::size_t nb, Limb* out) {
  Narrow::multiply(a, na, b, nb, out);
}
void square(const Limb* a, std::size_t n, Limb* out) { Narrow::square(a, n, out); }
void multiplyLow(const Limb* a, std::size_t na, const Limb* b, std::size_t nb, Limb* out, std::size_t nOut) {
  Narrow::multiplyLow(a, na, b, nb, out, nOut);
}
void multiplyHigh(const Limb* a, std::size_t na, const Limb* b, std::size_t nb, Limb* out, std::size_t from) {
  Narrow::multiplyHigh(a, na, b, nb, out, from);
}
}  // namespace narrow

std::size_t trimmed(const Limb* a, std::size_t n) {
  while (n > 0 && a[n - 1] == 0) --n;
  return n;
}

std::size_t bitLength(const Limb* a, std::size_t n) {
  n = trimmed(a, n);
  if (n == 0) return 0;
  return 32 * (n - 1) + static_cast<std::size_t>(std::bit_width(a[n - 1]));
}

int compare(const Limb* a, std::size_t na, const Limb* b, std::size_t nb) {
  na = trimmed(a, na);
  nb = trimmed(b, nb);
  if (na != nb) return na < nb ? -1 : 1;
  for (std::size_t k = na; k-- > 0;) {
    if (a[k] != b[k]) return a[k] < b[k] ? -1 : 1;
  }
  return 0;
}

void add(const Limb* a, std::size_t na, const Limb* b, std::size_t nb, Limb* out) {
  if (na < nb) {
    std::swap(a, b);
    std::swap(na, nb);
  }
  std::uint64_t carry = 0;
  std::size_t k = 0;
  for (; k < nb; ++k) {
    const std::uint64_t s = std::uint64_t{a[k]} + b[k] + carry;
    out[k] = static_cast<Limb>(s);
    carry = s >> 32;
  }
  for (; k < na; ++k) {
    const std::uint64_t s = std::uint64_t{a[k]} + carry;
    out[k] = static_cast<Limb>(s);
    carry = s >> 32;
  }
  out[na] = static_cast<Limb>(carry);
}

namespace {

// a[0..n) -= b[0..n) two limbs at a time as 64-bit words; returns the borrow.
inline std::uint64_t subtractWords(Limb* a, const Limb* b, std::size_t n, std::uint64_t borrow) {
  std::size_t k = 0;
  for (; k + 2 <= n; k += 2) {
    std::uint64_t x, y;
    std::memcpy(&x, a + k, 8);
    std::memcpy(&y, b + k, 8);
    const std::uint64_t d = x - y;
    const std::uint64_t r = d - borrow;
    borrow = static_cast<std::uint64_t>(x < y) | static_cast<std::uint64_t>(d < borrow);
    std::memcpy(a + k, &r, 8);
  }
  for (; k < n; ++k) {
    const std::uint64_t d = std::uint64_t{a[k]} - b[k] - borrow;
    a[k] = static_cast<Limb>(d);
    borrow = (d >> 32) & 1;
  }
  return borrow;
}

// a[0..n) -= borrow; returns the borrow out.
inline std::uint64_t propagateBorrow(Limb* a, std::size_t n, std::uint64_t borrow) {
  for (std::size_t k = 0; borrow != 0 && k < n; ++k) {
    borrow = a[k] == 0 ? 1 : 0;
    --a[k];
  }
  return borrow;
}

}  // namespace

void subtractInPlace(Limb* a, std::size_t na, const Limb* b, std::size_t nb) {
  std::uint64_t borrow;
  if (nb >= 16) {
    // The borrow chain is the bottleneck, so the two halves run as two
    // independent chains; the lower half's borrow then comes off the upper
    // half (it can only underflow where the upper half did not).
    const std::size_t half = nb / 4 * 2;
    std::uint64_t lowBorrow = 0, highBorrow = 0;
    std::size_t k = 0;
    for (; k + 2 <= half; k += 2) {
      std::uint64_t x0, y0, x1, y1;
      std::memcpy(&x0, a + k, 8);
      std::memcpy(&y0, b + k, 8);
      std::memcpy(&x1, a + half + k, 8);
      std::memcpy(&y1, b + half + k, 8);
      const std::uint64_t d0 = x0 - y0, d1 = x1 - y1;
      const std::uint64_t r0 = d0 - lowBorrow, r1 = d1 - highBorrow;
      lowBorrow = static_cast<std::uint64_t>(x0 < y0) | static_cast<std::uint64_t>(d0 < lowBorrow);
      highBorrow = static_cast<std::uint64_t>(x1 < y1) | static_cast<std::uint64_t>(d1 < highBorrow);
      std::memcpy(a + k, &r0, 8);
      std::memcpy(a + half + k, &r1, 8);
    }
    highBorrow = subtractWords(a + 2 * half, b + 2 * half, nb - 2 * half, highBorrow);
    borrow = highBorrow | propagateBorrow(a + half, nb - half, lowBorrow);
  } else {
    borrow = subtractWords(a, b, nb, 0);
  }
  propagateBorrow(a + nb, na - nb, borrow);
}

#if defined(__SIZEOF_INT128__)

void multiply(const Limb* a, std::size_t na, const Limb* b, std::size_t nb, Limb* out, Cells& cells) {
  const std::size_t wa = wordsOf(na), wb = wordsOf(nb);
  if (cells.size() < 2 * (wa + wb)) cells.resize(2 * (wa + wb));
  std::uint64_t* product = cells.data() + wa + wb;
  Wide::multiply(pack(a, na, cells.data()), wa, pack(b, nb, cells.data() + wa), wb, product);
  unpack(product, out, na + nb);
}

void square(const Limb* a, std::size_t n, Limb* out, Cells& cells) {
  const std::size_t w = wordsOf(n);
  if (cells.size() < 3 * w) cells.resize(3 * w);
  Wide::square(pack(a, n, cells.data()), w, cells.data() + w);
  unpack(cells.data() + w, out, 2 * n);
}

void multiplyLow(const Limb* a, std::size_t na, const Limb* b, std::size_t nb, Limb* out, std::size_t nOut,
                 Cells& cells) {
  const std::size_t wa = wordsOf(na), wb = wordsOf(nb), wOut = wordsOf(nOut);
  if (cells.size() < wa + wb + wOut) cells.resize(wa + wb + wOut);
  std::uint64_t* product = cells.data() + wa + wb;
  Wide::multiplyLow(pack(a, na, cells.data()), wa, pack(b, nb, cells.data() + wa), wb, product, wOut);
  unpack(product, out, nOut);
}

void multiplyHigh(const Limb* a, std::size_t na, const Limb* b, std::size_t nb, Limb* out, std::size_t from,
                  Cells& cells) {
  const std::size_t wa = wordsOf(na), wb = wordsOf(nb);
  const std::size_t nOut = na + nb > from ? na + nb - from : 0;
  if (nOut == 0) return;
  // Words from floor(from / 2) upward; an odd `from` drops one more limb below.
  const std::size_t fromWord = from / 2;
  const std::size_t words = wa + wb - fromWord;
  if (cells.size() < wa + wb + words) cells.resize(wa + wb + words);
  std::uint64_t* high = cells.data() + wa + wb;
  Wide::multiplyHigh(pack(a, na, cells.data()), wa, pack(b, nb, cells.data() + wa), wb, high, fromWord);
  unpack(high, out, nOut, from % 2);
}

#else

void multiply(const Limb* a, std::size_t na, const Limb* b, std::size_t nb, Limb* out, Cells&) {
  Narrow::multiply(a, na, b, nb, out);
}

void square(const Limb* a, std::size_t n, Limb* out, Cells&) { Narrow::square(a, n, out); }

void multiplyLow(const Limb* a, std::size_t na, const Limb* b, std::size_t nb, Limb* out, std::size_t nOut,
                 Cells&) {
  Narrow::multiplyLow(a, na, b, nb, out, nOut);
}

void multiplyHigh(const Limb* a, std::size_t na, const Limb* b, std::size_t nb, Limb* out, std::size_t from,
                  Cells&) {
  Narrow::multiplyHigh(a, na, b, nb, out, from);
}

#endif

void divide(const Limb* u, std::size_t nu, const Limb* v, std::size_t nv, LimbVector* quotient,
            LimbVector* remainder) {
  nu = trimmed(u, nu);
  nv = trimmed(v, nv);
  if (quotient) quotient->clear();
  if (remainder) remainder->assign(u, u + nu);
  if (nv == 0 || compare(u, nu, v, nv) < 0) return;

  LimbVector rem(u, u + nu);
  std::size_t rn = nu;
  const std::size_t top = bitLength(u, nu) - bitLength(v, nv);
  LimbVector q(top / 32 + 1, 0);

  // The divisor at every bit offset within a limb, so each step only picks a
  // pre-shifted copy and a limb offset instead of shifting the divisor.
  const std::size_t dn = nv + 1;
  LimbVector shifted(32 * dn, 0);
  std::array<std::size_t, 32> shiftedLength{};
  for (unsigned t = 0; t < 32; ++t) {
    Limb* s = shifted.data() + t * dn;
    Limb carry = 0;
    for (std::size_t k = 0; k < nv; ++k) {
      s[k] = (v[k] << t) | carry;
      carry = t == 0 ? 0 : v[k] >> (32 - t);
    }
    s[nv] = carry;
    shiftedLength[t] = trimmed(s, dn);
  }

  for (std::size_t pos = top + 1; pos-- > 0;) {
    const std::size_t offset = pos / 32;
    const unsigned t = static_cast<unsigned>(pos % 32);
    const Limb* d = shifted.data() + t * dn;
    const std::size_t dl = shiftedLength[t];
    const std::size_t end = offset + dl;
    // Is rem >= d << (32 * offset)? The divisor's limbs below offset are zero.
    bool fits;
    if (rn != end) {
      fits = rn > end;
    } else {
      fits = true;
      for (std::size_t k = dl; k-- > 0;) {
        if (rem[offset + k] != d[k]) {
          fits = rem[offset + k] > d[k];
          break;
        }
      }
    }
    if (!fits) continue;
    subtractInPlace(rem.data() + offset, rn - offset, d, dl);
    rn = trimmed(rem.data(), rn);
    q[offset] |= Limb{1} << t;
  }
  if (quotient) {
    q.resize(trimmed(q.data(), q.size()));
    *quotient = std::move(q);
  }
  if (remainder) {
    rem.resize(rn);
    *remainder = std::move(rem);
  }
}

}  // namespace qv::limbs
