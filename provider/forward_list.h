#pragma once
// LINEFORWARDLIST and the forward list of LINEADDRESSSTATUS in the layout of
// the negotiated version 0x00020002: six DWORDs (24 bytes) an entry, not the
// eight of the TAPI 3.1 header. Do-not-disturb is an unconditional entry
// without a destination, the way TAPI exposes it.
#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>

#include "platform/tapi.h"
#include "session/forwarding.h"

namespace qv {

inline constexpr std::size_t kForwardEntrySize = 24;
inline constexpr DWORD kForwardModes =
    LINEFORWARDMODE_UNCOND | LINEFORWARDMODE_BUSY | LINEFORWARDMODE_NOANSW | LINEFORWARDMODE_BUSYNA;

struct ForwardState {
  std::array<bool, kForwardKinds> on{};
  std::array<std::string, kForwardKinds> to{};
  bool dnd = false;
  bool operator==(const ForwardState&) const = default;
};

// What TSPI_lineForward asks for (null: cancel everything), or LINEERR_* as
// the error: a list that does not fit its size, an unsupported mode, a
// caller-specific entry or a mode given twice.
struct ForwardRequest {
  ForwardState target;
  LONG error = 0;
};
ForwardRequest ParseForwardList(const LINEFORWARDLIST* list);

// Bytes the forward list needs after LINEADDRESSSTATUS's fixed part.
std::size_t ForwardListSize(const ForwardState& state);
// Writes the entries and their destinations at `offset` of the structure
// (which has room for ForwardListSize bytes there); returns the entry count.
DWORD WriteForwardList(const ForwardState& state, unsigned char* base, std::size_t offset);

}  // namespace qv
