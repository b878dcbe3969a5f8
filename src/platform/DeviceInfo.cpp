#include "platform/DeviceInfo.h"

#include <algorithm>

#include "base/AsciiText.h"

namespace tavero::platform {
namespace {

int hexDigit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}


}  // namespace

std::optional<MacAddress> parseMacAddress(std::string_view text) {
  text = base::trimAsciiWhiteSpace(text);
  if (text.size() != 17) return std::nullopt;
  MacAddress address{};
  for (size_t k = 0; k < address.size(); ++k) {
    int high = hexDigit(text[3 * k]);
    int low = hexDigit(text[3 * k + 1]);
    if (high < 0 || low < 0) return std::nullopt;
    if (k + 1 < address.size() && text[3 * k + 2] != ':') return std::nullopt;
    address[k] = static_cast<uint8_t>(high * 16 + low);
  }
  if (std::all_of(address.begin(), address.end(), [](uint8_t b) { return b == 0; })) return std::nullopt;
  return address;
}

}  // namespace tavero::platform
