// The private key reader on arbitrary bytes, as DER and as PEM text; a key
// that is accepted must hold together.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "tls/private_key.h"

namespace {

void check(const std::optional<qv::PrivateKey>& key, const std::string& error) {
  if (!key) {
    if (error.empty()) std::abort();  // a refusal always says why
    return;
  }
  if (key->type == qv::PrivateKeyType::kEc) {
    if (key->ecScalar.size() != qv::ecFieldSize(key->curve) || !qv::ecPointIsValid(key->curve, key->ecPublic))
      std::abort();
  } else if (!key->rsa.hasCrt() || key->rsa.modulusLength() == 0) {
    std::abort();
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view input(reinterpret_cast<const char*>(data), size);
  std::string error;
  check(qv::ReadDerPrivateKey(input, &error), error);
  error.clear();
  check(qv::ReadPemPrivateKey(input, &error), error);
  return 0;
}
