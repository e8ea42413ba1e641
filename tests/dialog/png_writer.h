#pragma once
// Writes 24-bit RGB pixels as a PNG file (stored, uncompressed deflate), so a
// test can leave a picture of what it saw.
#include <cstdint>
#include <string>
#include <vector>

namespace qv::test {

// rgb: width * height * 3 bytes, rows top to bottom.
bool writePng(const std::string& path, int width, int height, const std::vector<std::uint8_t>& rgb);

}  // namespace qv::test
