#include "session/csta_frame.h"

namespace qv {

std::optional<Bytes> BuildCstaFrame(std::uint32_t invokeId, std::string_view xml, InvokeIdFormat format) {
  if (xml.size() > kMaxCstaFrameSize - kCstaHeaderSize) return std::nullopt;
  Bytes frame;
  frame.reserve(kCstaHeaderSize + xml.size());
  frame.append(2, '\0');
  frame += uintToBytes(static_cast<std::uint32_t>(xml.size() + kCstaHeaderSize), 2);
  if (format == InvokeIdFormat::kAscii) {
    std::uint32_t digits = invokeId % 10000;
    char text[4];
    for (int i = 3; i >= 0; --i, digits /= 10) text[i] = static_cast<char>('0' + digits % 10);
    frame.append(text, 4);
  } else {
    frame += uintToBytes(invokeId, 4);
  }
  frame.append(xml);
  return frame;
}

void CstaFrameCutter::append(std::string_view bytes) {
  // Drop what was cut before growing, so the buffer never holds much more
  // than one frame plus the new bytes.
  if (start_ > 0 && (start_ >= buffer_.size() / 2 || start_ == buffer_.size())) {
    buffer_.erase(0, start_);
    start_ = 0;
  }
  buffer_.append(bytes);
}

CstaFrameCutter::Status CstaFrameCutter::next(CstaFrame& frame) {
  std::string_view rest(buffer_);
  rest.remove_prefix(start_);
  if (rest.size() < kCstaHeaderSize) return Status::needMore;
  if (rest[0] != '\0' || rest[1] != '\0') return Status::outOfStep;
  std::size_t length = bytesToUInt(rest.substr(2, 2));
  if (length < kCstaHeaderSize) return Status::badLength;
  if (rest.size() < length) return Status::needMore;
  if (format_ == InvokeIdFormat::kAscii) {
    frame.invokeId = 0;
    for (char digit : rest.substr(4, 4)) {
      if (digit < '0' || digit > '9') {
        frame.invokeId = kAsciiEventInvokeId;
        break;
      }
      frame.invokeId = frame.invokeId * 10 + static_cast<std::uint32_t>(digit - '0');
    }
  } else {
    frame.invokeId = bytesToUInt(rest.substr(4, 4));
  }
  frame.xml.assign(rest.substr(kCstaHeaderSize, length - kCstaHeaderSize));
  start_ += length;
  if (start_ == buffer_.size()) {
    buffer_.clear();
    start_ = 0;
  }
  return Status::frame;
}

void CstaFrameCutter::clear() {
  buffer_.clear();
  start_ = 0;
}

}  // namespace qv
