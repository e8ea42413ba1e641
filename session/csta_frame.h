#pragma once
// The 8-byte frame around every CSTA message in both directions: two
// reserved zero bytes, the 16-bit big-endian length of the whole frame,
// the invoke id (32-bit big-endian, or with `invokeid` "ascii" four ASCII
// digits), then the XML text.
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "session/csta_profile.h"
#include "xml/byte_string.h"

namespace qv {

inline constexpr std::size_t kCstaHeaderSize = 8;
inline constexpr std::size_t kMaxCstaFrameSize = 0xFFFF;

// Nothing when the frame would not fit the 16-bit length field.
std::optional<Bytes> BuildCstaFrame(std::uint32_t invokeId, std::string_view xml,
                                    InvokeIdFormat format = InvokeIdFormat::kBinary);

struct CstaFrame {
  std::uint32_t invokeId = 0;
  std::string xml;
};

// Cuts a byte stream into frames. An incomplete frame waits for more data;
// since a frame's length is bounded by 16 bits, so is what waits here.
class CstaFrameCutter {
 public:
  enum class Status { frame, needMore, badLength, outOfStep };

  void append(std::string_view bytes);
  // badLength: the length field is below the header size, so the stream
  // cannot be cut any further; the caller must drop it.
  // outOfStep: the two reserved bytes are not zero, so this is no frame
  // start and the stream is out of step; the caller must drop it.
  Status next(CstaFrame& frame);
  void clear();
  std::size_t buffered() const { return buffer_.size() - start_; }
  // How the invoke id is read; an ascii header that is not four digits
  // reads as the events' 9999.
  void setFormat(InvokeIdFormat format) { format_ = format; }

 private:
  InvokeIdFormat format_ = InvokeIdFormat::kBinary;
  Bytes buffer_;
  std::size_t start_ = 0;  // bytes at the front already cut off
};

}  // namespace qv
