#pragma once
// The chains make_chains.sh wrote to $QV_CHAIN_DIR (see run_with_chains.sh).
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>
#include <string_view>
#include <vector>

#include "xml/byte_string.h"

namespace qv::test {

inline std::string chainDir() {
  const char* dir = std::getenv("QV_CHAIN_DIR");
  return dir != nullptr ? dir : "";
}

inline std::string chainPath(const std::string& name) { return chainDir() + "/" + name; }

// The file's bytes; empty when it cannot be read.
inline Bytes chainFile(const std::string& name) {
  std::ifstream in(chainPath(name), std::ios::binary);
  std::stringstream bytes;
  bytes << in.rdbuf();
  return bytes.str();
}

// "leaf inter" -> the DER of leaf.der and inter.der.
inline std::vector<Bytes> chainOf(const std::string& names) {
  std::vector<Bytes> chain;
  std::istringstream words(names);
  for (std::string name; words >> name;) chain.push_back(chainFile(name + ".der"));
  return chain;
}

// Bytes of a hex text (the fixed test certificates).
inline Bytes bytesOfHex(std::string_view hex) {
  Bytes out;
  for (std::size_t k = 0; k + 1 < hex.size(); k += 2) {
    out += static_cast<char>(std::stoi(std::string(hex.substr(k, 2)), nullptr, 16));
  }
  return out;
}

}  // namespace qv::test

#define QV_REQUIRE_CHAINS()                                                          \
  if (::qv::test::chainDir().empty() || ::qv::test::chainFile("leaf.der").empty()) { \
    GTEST_SKIP() << "no chains in QV_CHAIN_DIR (run through run_with_chains.sh)";    \
  }
