#pragma once
// Barrett reduction over raw limbs, with its scratch buffers kept between
// calls so modPow allocates nothing inside its loop.
#include <cstdint>
#include <vector>

#include "crypto/limbs.h"

namespace qv {

class BarrettReducer {
 public:
  // m trimmed and non-zero; mu = floor(b^(2k) / m) with b = 2^32, k = m.size().
  BarrettReducer(limbs::LimbVector m, limbs::LimbVector mu);
  // mu for m, by long division of b^(2k).
  static limbs::LimbVector computeMu(const limbs::LimbVector& m);

  std::size_t k() const { return m_.size(); }
  const limbs::LimbVector& modulus() const { return m_; }
  // out[0..k) = x mod m, for x of any length (zero limbs on top allowed).
  void reduce(const limbs::Limb* x, std::size_t nx, limbs::Limb* out);

 private:
  limbs::LimbVector m_;
  limbs::LimbVector mu_;
  limbs::LimbVector q2_;
  limbs::LimbVector r_;
  limbs::LimbVector r2_;
  limbs::LimbVector fallback_;
  std::vector<std::uint64_t> cells_;
};

}  // namespace qv
