#pragma once
// Device identifiers as PBXs write them: a plain number ("201"),
// "number@host", and the dialect of large PBX families, "N<number>" with an
// optional name after the ">" and ";key=value" attributes after either
// ("N<+4930123456>Erika Mustermann;displayNumber=+4930123456").
#include <string>
#include <string_view>

namespace qv {

struct DeviceIdentifier {
  std::string number;  // what identifies the device and is shown to TAPI
  std::string name;    // the party's name in the dialect, else empty
};

// Plain identifiers (no "N<", no attributes) come back unchanged as the number.
DeviceIdentifier ParseDeviceIdentifier(std::string_view id);

}  // namespace qv
