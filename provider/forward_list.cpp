#include "provider/forward_list.h"

#include <cstring>

namespace qv {

namespace {

DWORD readDword(const unsigned char* p) {
  return static_cast<DWORD>(p[0] | p[1] << 8 | p[2] << 16 | static_cast<DWORD>(p[3]) << 24);
}

void writeDword(unsigned char* p, DWORD v) {
  for (int i = 0; i < 4; ++i) p[i] = static_cast<unsigned char>(v >> (8 * i));
}

constexpr DWORD kModeOf[kForwardKinds] = {LINEFORWARDMODE_UNCOND, LINEFORWARDMODE_BUSY,
                                          LINEFORWARDMODE_NOANSW};

// The digits of a UTF-16 destination inside the list.
std::string destinationAt(const unsigned char* base, DWORD total, DWORD offset, DWORD size, bool& bad) {
  std::string digits;
  if (size == 0) return digits;
  if (offset > total || size > total - offset || size % 2 != 0) {
    bad = true;
    return digits;
  }
  for (DWORD i = 0; i + 1 < size; i += 2) {
    const unsigned unit = base[offset + i] | base[offset + i + 1] << 8;
    if (unit == 0) break;
    if ((unit >= '0' && unit <= '9') || unit == '*' || unit == '#') digits.push_back(static_cast<char>(unit));
  }
  return digits.substr(0, 64);
}

}  // namespace

ForwardRequest ParseForwardList(const LINEFORWARDLIST* list) {
  ForwardRequest r;
  if (list == nullptr) return r;
  const auto* base = reinterpret_cast<const unsigned char*>(list);
  const DWORD total = readDword(base);
  if (total < 8) {
    r.error = static_cast<LONG>(LINEERR_STRUCTURETOOSMALL);
    return r;
  }
  const DWORD entries = readDword(base + 4);
  if (entries > (total - 8) / kForwardEntrySize) {
    r.error = static_cast<LONG>(LINEERR_INVALPARAM);
    return r;
  }
  std::array<bool, kForwardKinds> given{};
  bool dndGiven = false;
  for (DWORD i = 0; i < entries; ++i) {
    const unsigned char* e = base + 8 + i * kForwardEntrySize;
    const DWORD mode = readDword(e);
    bool bad = readDword(e + 4) != 0;  // caller-specific forwarding is not offered
    const std::string to = destinationAt(base, total, readDword(e + 20), readDword(e + 16), bad);
    if (bad) {
      r.error = static_cast<LONG>(LINEERR_INVALPARAM);
      return r;
    }
    auto set = [&](ForwardKind kind) {
      const auto k = static_cast<std::size_t>(kind);
      if (given[k]) bad = true;
      given[k] = true;
      r.target.on[k] = true;
      r.target.to[k] = to;
    };
    if (mode == LINEFORWARDMODE_UNCOND && to.empty()) {
      bad = dndGiven;
      dndGiven = true;
      r.target.dnd = true;
    } else if (to.empty()) {
      bad = true;
    } else if (mode == LINEFORWARDMODE_UNCOND) {
      set(ForwardKind::kImmediate);
    } else if (mode == LINEFORWARDMODE_BUSY) {
      set(ForwardKind::kBusy);
    } else if (mode == LINEFORWARDMODE_NOANSW) {
      set(ForwardKind::kNoAnswer);
    } else if (mode == LINEFORWARDMODE_BUSYNA) {
      set(ForwardKind::kBusy);
      set(ForwardKind::kNoAnswer);
    } else {
      bad = true;
    }
    if (bad) {
      r.error = static_cast<LONG>(LINEERR_INVALPARAM);
      return r;
    }
  }
  return r;
}

std::size_t ForwardListSize(const ForwardState& state) {
  std::size_t size = state.dnd ? kForwardEntrySize : 0;
  for (std::size_t k = 0; k < kForwardKinds; ++k) {
    if (state.on[k]) size += kForwardEntrySize + 2 * (state.to[k].size() + 1);
  }
  return size;
}

DWORD WriteForwardList(const ForwardState& state, unsigned char* base, std::size_t offset) {
  DWORD count = (state.dnd ? 1 : 0);
  for (std::size_t k = 0; k < kForwardKinds; ++k) count += state.on[k] ? 1 : 0;
  std::size_t text = offset + count * kForwardEntrySize;
  unsigned char* entry = base + offset;
  auto put = [&](DWORD mode, const std::string& to) {
    std::memset(entry, 0, kForwardEntrySize);
    writeDword(entry, mode);
    if (!to.empty()) {
      writeDword(entry + 16, static_cast<DWORD>(2 * (to.size() + 1)));
      writeDword(entry + 20, static_cast<DWORD>(text));
      for (char c : to) {
        base[text++] = static_cast<unsigned char>(c);
        base[text++] = 0;
      }
      base[text++] = 0;
      base[text++] = 0;
    }
    entry += kForwardEntrySize;
  };
  if (state.dnd) put(LINEFORWARDMODE_UNCOND, {});
  for (std::size_t k = 0; k < kForwardKinds; ++k) {
    if (state.on[k]) put(kModeOf[k], state.to[k]);
  }
  return count;
}

}  // namespace qv
