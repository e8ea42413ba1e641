#pragma once
// Readable names for the call values TAPI passes around: call states, the
// modes that go with them, call-info changes, origins and party-ID flags.
#include <cstdint>
#include <string>

namespace qv::tsphost {

std::string callStateName(std::uint32_t state);
// The mode bits as they read for that state ("NORMAL", "BUSY|UNKNOWN", ...);
// empty when the state has no modes or none is set.
std::string callStateModeNames(std::uint32_t state, std::uint32_t mode);
std::string callInfoStateNames(std::uint32_t infoStates);
std::string callOriginNames(std::uint32_t origin);
std::string callReasonNames(std::uint32_t reason);
std::string partyIdFlagNames(std::uint32_t flags);
std::string callFeatureNames(std::uint32_t features);

}  // namespace qv::tsphost
