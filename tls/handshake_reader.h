#pragma once
// Cursor over a handshake message body. Reads that run past the end yield
// what remains (possibly nothing) and leave the cursor at the end.
#include <cstddef>
#include <string_view>

namespace qv {

class HandshakeReader {
 public:
  explicit HandshakeReader(std::string_view body) : body_(body) {}

  std::string_view ReadBytes(std::size_t n) {
    const std::size_t take = n < Remaining() ? n : Remaining();
    std::string_view result = body_.substr(position_, take);
    position_ += take;
    return result;
  }
  std::string_view ReadVector8() { return ReadBytes(ReadLength(1)); }
  std::string_view ReadVector16() { return ReadBytes(ReadLength(2)); }
  std::string_view ReadVector24() { return ReadBytes(ReadLength(3)); }

  std::size_t Remaining() const { return body_.size() - position_; }

 private:
  std::size_t ReadLength(std::size_t width) {
    std::size_t length = 0;
    for (unsigned char byte : ReadBytes(width)) length = (length << 8) | byte;
    return length;
  }

  std::string_view body_;
  std::size_t position_ = 0;
};

}  // namespace qv
