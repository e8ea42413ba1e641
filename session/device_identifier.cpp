#include "session/device_identifier.h"

namespace qv {

namespace {

std::string_view Trimmed(std::string_view text) {
  while (!text.empty() && (text.front() == ' ' || text.front() == '\t')) text.remove_prefix(1);
  while (!text.empty() && (text.back() == ' ' || text.back() == '\t')) text.remove_suffix(1);
  return text;
}

// The text before the first ";key=value" attribute.
std::string_view WithoutAttributes(std::string_view text) {
  for (std::size_t semi = text.find(';'); semi != std::string_view::npos; semi = text.find(';', semi + 1)) {
    std::string_view rest = text.substr(semi + 1);
    const std::size_t equals = rest.find('=');
    if (equals != std::string_view::npos && equals > 0) return text.substr(0, semi);
  }
  return text;
}

}  // namespace

DeviceIdentifier ParseDeviceIdentifier(std::string_view id) {
  DeviceIdentifier result;
  if (id.size() > 2 && id[0] == 'N' && id[1] == '<') {
    const std::size_t close = id.find('>', 2);
    if (close != std::string_view::npos) {
      result.number = std::string(Trimmed(id.substr(2, close - 2)));
      result.name = std::string(Trimmed(WithoutAttributes(id.substr(close + 1))));
      return result;
    }
  }
  result.number = std::string(WithoutAttributes(id));
  return result;
}

}  // namespace qv
