#pragma once
// Ecdsa-Sig-Value ::= SEQUENCE { r INTEGER, s INTEGER } in strict DER, as
// X.509 and TLS carry ECDSA signatures. Hostile input: every length checked
// against the bytes present, nothing read past them.
#include <optional>
#include <string_view>

#include "xml/byte_string.h"

namespace qv {

struct EcdsaSignatureParts {
  // Big-endian contents of the two INTEGERs as encoded (a leading zero byte
  // only where the next byte has its top bit set).
  std::string_view r;
  std::string_view s;
};

// The two integers, or nothing unless the input is exactly one DER SEQUENCE
// of two non-negative INTEGERs: minimal length octets (definite form only),
// minimal integer contents, no trailing bytes.
std::optional<EcdsaSignatureParts> parseEcdsaSignatureDer(std::string_view der);

// DER of two non-negative big-endian integers (leading zero bytes allowed).
Bytes encodeEcdsaSignatureDer(std::string_view r, std::string_view s);

}  // namespace qv
