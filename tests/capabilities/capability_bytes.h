#pragma once
// A TAPI structure buffer read back byte by byte, independent of any header.
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>

namespace qv::test {

// Filled with a marker so untouched bytes can be told from written ones.
constexpr unsigned char kMarker = 0xCC;
constexpr std::uint32_t kMarkerWord = 0xCCCCCCCCu;

struct CapsBuffer {
  alignas(8) unsigned char bytes[2048];
  explicit CapsBuffer(std::uint32_t totalSize) {
    std::memset(bytes, kMarker, sizeof bytes);
    put(0, totalSize);
  }
  std::uint32_t at(std::size_t offset) const {
    return static_cast<std::uint32_t>(bytes[offset]) | static_cast<std::uint32_t>(bytes[offset + 1]) << 8 |
           static_cast<std::uint32_t>(bytes[offset + 2]) << 16 |
           static_cast<std::uint32_t>(bytes[offset + 3]) << 24;
  }
  std::uint16_t at16(std::size_t offset) const {
    return static_cast<std::uint16_t>(bytes[offset] | bytes[offset + 1] << 8);
  }
  void put(std::size_t offset, std::uint32_t value) {
    for (int i = 0; i < 4; ++i) bytes[offset + i] = static_cast<unsigned char>(value >> (8 * i));
  }
  // UTF-16 text of `size` bytes at `offset`, NUL excluded, one char per unit.
  std::u16string wide(std::size_t offset, std::size_t size) const {
    std::u16string text;
    for (std::size_t i = 0; i + 3 < size; i += 2) text.push_back(static_cast<char16_t>(at16(offset + i)));
    return text;
  }
  template <typename T>
  T* as() {
    return reinterpret_cast<T*>(bytes);
  }
};

}  // namespace qv::test
