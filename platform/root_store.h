#pragma once
// The operating system's trusted root certificates, for verifying the PBX's
// chain. Read on each call; the caller keeps what it needs.
#include <string>
#include <vector>

namespace qv {

struct PlatformRoots {
  // DER certificates (Windows: the ROOT system store).
  std::vector<std::string> der;
  // Text of a PEM bundle (Linux: the distribution's CA file); the caller decodes it.
  std::string pemBundle;
  // Where they came from, for the log.
  std::string source;
  // False when the store or file could not be opened or read.
  bool available = false;
};

// Bundles beyond this size are not read.
inline constexpr std::size_t kMaxRootBundleBytes = 8 * 1024 * 1024;

PlatformRoots ReadPlatformRoots();

}  // namespace qv
