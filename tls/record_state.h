#pragma once
// One direction of the record layer: what protects the records and how many
// went through since the last ChangeCipherSpec.
#include <cstdint>

#include "crypto/aes.h"
#include "crypto/rc4.h"
#include "tls/chacha_record.h"
#include "tls/gcm_record.h"
#include "tls/tls13_record.h"
#include "tls/cipher_suites.h"
#include "xml/byte_string.h"

namespace qv {

struct RecordState {
  // Records are protected (our or the peer's ChangeCipherSpec passed).
  bool active = false;
  // Installed from the suite by the key schedule; may be ready before active.
  CipherKind cipher = CipherKind::kNone;
  MacKind mac = MacKind::kNone;
  Bytes macSecret;
  Rc4State rc4;
  AesContext aes;
  // TLS 1.2: AES-CBC records carry their IV in front (aes keeps the chain).
  bool explicitIv = false;
  GcmRecordCipher gcm;
  ChaChaRecordCipher chacha;
  // TLS 1.3: the AEAD with its own IV and sequence number.
  Tls13RecordCipher tls13;
  // Records MACed since the keys were installed (wraps as TLS's uint64 does).
  std::uint64_t sequence = 0;
};

}  // namespace qv
