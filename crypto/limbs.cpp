#include "crypto/limbs.h"

#include <algorithm>
#include <array>
#include <bit>
#include <cstring>

namespace qv::limbs {

namespace {

using Cells = std::vector<std::uint64_t>;

// Cells in two halves: low products land in lo[i+j], high products in
// hi[i+j] and count towards cell i+j+1. Keeping them apart lets the row
// loop run without a dependency between neighbouring cells.
inline void accumulateRow(std::uint64_t ai, const Limb* b, std::size_t nb, std::uint64_t* lo, std::uint64_t* hi) {
  for (std::size_t j = 0; j < nb; ++j) {
    const std::uint64_t p = ai * b[j];
    lo[j] += p & 0xFFFFFFFFu;
    hi[j] += p >> 32;
  }
}

// Emits out[k] = low 32 bits of cell k (lo[k] + hi[k-1] + carry).
inline void carryPass(const std::uint64_t* lo, const std::uint64_t* hi, Limb* out, std::size_t nOut) {
  std::uint64_t carry = 0;
  std::uint64_t previousHigh = 0;
  for (std::size_t k = 0; k < nOut; ++k) {
    const std::uint64_t cell = lo[k] + previousHigh + carry;
    out[k] = static_cast<Limb>(cell);
    carry = cell >> 32;
    previousHigh = hi[k];
  }
}

inline void prepareCells(Cells& cells, std::size_t n) {
  if (cells.size() < 2 * n) cells.resize(2 * n);
  std::fill_n(cells.begin(), 2 * n, 0);
}

}  // namespace

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

void subtractInPlace(Limb* a, std::size_t na, const Limb* b, std::size_t nb) {
  std::uint64_t borrow = 0;
  std::size_t k = 0;
  for (; k < nb; ++k) {
    const std::uint64_t d = std::uint64_t{a[k]} - b[k] - borrow;
    a[k] = static_cast<Limb>(d);
    borrow = (d >> 32) & 1;
  }
  for (; borrow != 0 && k < na; ++k) {
    const std::uint64_t d = std::uint64_t{a[k]} - borrow;
    a[k] = static_cast<Limb>(d);
    borrow = (d >> 32) & 1;
  }
}

void multiply(const Limb* a, std::size_t na, const Limb* b, std::size_t nb, Limb* out, Cells& cells) {
  const std::size_t n = na + nb;
  if (n == 0) return;
  if (na == 0 || nb == 0) {
    std::fill_n(out, n, 0);
    return;
  }
  prepareCells(cells, n);
  std::uint64_t* lo = cells.data();
  std::uint64_t* hi = lo + n;
  for (std::size_t i = 0; i < na; ++i) {
    if (a[i] != 0) accumulateRow(a[i], b, nb, lo + i, hi + i);
  }
  carryPass(lo, hi, out, n);
}

void square(const Limb* a, std::size_t n, Limb* out, Cells& cells) {
  const std::size_t n2 = 2 * n;
  if (n == 0) return;
  prepareCells(cells, n2);
  std::uint64_t* lo = cells.data();
  std::uint64_t* hi = lo + n2;
  for (std::size_t i = 0; i + 1 < n; ++i) {
    if (a[i] != 0) accumulateRow(a[i], a + i + 1, n - i - 1, lo + 2 * i + 1, hi + 2 * i + 1);
  }
  // Each cell holds at most n products of < 2^32, so doubling cannot overflow.
  for (std::size_t k = 0; k < n2; ++k) {
    lo[k] <<= 1;
    hi[k] <<= 1;
  }
  for (std::size_t i = 0; i < n; ++i) {
    const std::uint64_t p = std::uint64_t{a[i]} * a[i];
    lo[2 * i] += p & 0xFFFFFFFFu;
    hi[2 * i] += p >> 32;
  }
  carryPass(lo, hi, out, n2);
}

void multiplyLow(const Limb* a, std::size_t na, const Limb* b, std::size_t nb, Limb* out, std::size_t nOut,
                 Cells& cells) {
  if (nOut == 0) return;
  prepareCells(cells, nOut);
  std::uint64_t* lo = cells.data();
  std::uint64_t* hi = lo + nOut;
  for (std::size_t i = 0; i < na && i < nOut; ++i) {
    if (a[i] != 0) accumulateRow(a[i], b, std::min(nb, nOut - i), lo + i, hi + i);
  }
  carryPass(lo, hi, out, nOut);
}

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
