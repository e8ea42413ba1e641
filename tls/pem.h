#pragma once
// PEM bundles: the certificates of a CA file, as DER.
#include <string_view>
#include <vector>

#include "xml/byte_string.h"

namespace qv {

// Bundles larger than this are not read (the system bundle is about 200 KB).
inline constexpr std::size_t kMaxPemBundleBytes = 8 * 1024 * 1024;
// At most this many certificates are taken from one bundle.
inline constexpr std::size_t kMaxPemCertificates = 4096;

// Every "-----BEGIN CERTIFICATE-----" block of text, base64-decoded. Other
// blocks (keys, "TRUSTED CERTIFICATE") are passed over; a block whose base64
// is malformed or that has no end line is left out and counted in skipped.
std::vector<Bytes> ReadPemCertificates(std::string_view text, std::size_t* skipped = nullptr);

// Base64 (RFC 4648) with white space ignored; false when anything else is
// not base64 or the padding is wrong.
bool base64Decode(std::string_view text, Bytes& out);

}  // namespace qv
