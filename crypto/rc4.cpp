#include "crypto/rc4.h"

namespace qv {

void rc4SetKey(Rc4State& state, std::string_view key) {
  state.i = 0;
  state.j = 0;
  state.s = Rc4State::identity();
  // An empty key would leave nothing to cycle through; schedule it as one zero byte.
  static constexpr char kZero[1] = {0};
  if (key.empty()) key = std::string_view(kZero, 1);
  std::uint8_t j = 0;
  std::size_t k = 0;
  for (std::size_t n = 0; n < 256; ++n) {
    j = static_cast<std::uint8_t>(j + state.s[n] + static_cast<std::uint8_t>(key[k]));
    std::swap(state.s[n], state.s[j]);
    if (++k == key.size()) k = 0;
  }
}

Bytes rc4Crypt(Rc4State& state, std::string_view data) {
  Bytes out(data.size(), '\0');
  // Work on locals so the loop keeps i and j in registers.
  std::uint8_t i = static_cast<std::uint8_t>(state.i);
  std::uint8_t j = static_cast<std::uint8_t>(state.j);
  std::uint8_t* s = state.s.data();
  for (std::size_t n = 0; n < data.size(); ++n) {
    i = static_cast<std::uint8_t>(i + 1);
    std::uint8_t si = s[i];
    j = static_cast<std::uint8_t>(j + si);
    std::uint8_t sj = s[j];
    s[i] = sj;
    s[j] = si;
    out[n] = static_cast<char>(static_cast<std::uint8_t>(data[n]) ^ s[static_cast<std::uint8_t>(si + sj)]);
  }
  state.i = i;
  state.j = j;
  return out;
}

}  // namespace qv
