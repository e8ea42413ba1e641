#include "tls/chacha_record.h"

namespace qv {

bool ChaChaRecordCipher::SetKey(std::string_view, std::string_view) { return false; }

bool ChaChaRecordCipher::HasKey() const { return false; }

Bytes ChaChaRecordCipher::Seal(std::uint64_t, std::uint8_t, std::string_view, std::string_view) const {
  return {};
}

std::optional<Bytes> ChaChaRecordCipher::Open(std::uint64_t, std::uint8_t, std::string_view,
                                              std::string_view) const {
  return std::nullopt;
}

}  // namespace qv
