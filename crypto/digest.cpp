#include "crypto/digest.h"

namespace qv {

Bytes digestOf(HashAlgorithm hash, std::string_view data) {
  DigestContext context(hash);
  context.update(data);
  return context.finish();
}

std::size_t digestSize(HashAlgorithm hash) {
  switch (hash) {
    case HashAlgorithm::kMd5:
      return kMd5Size;
    case HashAlgorithm::kSha1:
      return kSha1Size;
    case HashAlgorithm::kSha256:
      return kSha256Size;
    case HashAlgorithm::kSha384:
      return kSha384Size;
    case HashAlgorithm::kSha512:
      return kSha512Size;
  }
  return 0;
}

std::size_t digestBlockSize(HashAlgorithm hash) {
  return hash == HashAlgorithm::kSha384 || hash == HashAlgorithm::kSha512 ? 128 : 64;
}

DigestContext::DigestContext(HashAlgorithm hash) : hash_(hash) { reset(); }

void DigestContext::reset() {
  switch (hash_) {
    case HashAlgorithm::kMd5:
      context_.emplace<Md5Context>();
      break;
    case HashAlgorithm::kSha1:
      context_.emplace<Sha1Context>();
      break;
    case HashAlgorithm::kSha256:
      context_.emplace<Sha256Context>();
      break;
    case HashAlgorithm::kSha384:
      context_.emplace<Sha512Context>(true);
      break;
    case HashAlgorithm::kSha512:
      context_.emplace<Sha512Context>(false);
      break;
  }
}

void DigestContext::update(std::string_view data) {
  std::visit([data](auto& c) { c.update(data); }, context_);
}

Bytes DigestContext::finish() {
  return std::visit([](auto& c) { return c.finish(); }, context_);
}

}  // namespace qv
