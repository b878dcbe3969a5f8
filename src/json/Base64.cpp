#include "json/Base64.h"

namespace tavero::json {

std::string ql_base64_encode(std::span<const uint8_t> bytes, bool wrap) {
  static constexpr char kAlphabet[] =
      "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
  constexpr size_t kGroupsPerLine = 18;  // 72 characters

  size_t fullGroups = bytes.size() / 3;
  size_t remainder = bytes.size() % 3;
  std::string out;
  out.reserve((fullGroups + (remainder != 0)) * 4 + (wrap ? fullGroups / kGroupsPerLine : 0));

  const uint8_t* p = bytes.data();
  for (size_t g = 1; g <= fullGroups; ++g, p += 3) {
    uint32_t v = uint32_t{p[0]} << 16 | uint32_t{p[1]} << 8 | p[2];
    const char quad[4] = {kAlphabet[v >> 18], kAlphabet[v >> 12 & 63], kAlphabet[v >> 6 & 63],
                          kAlphabet[v & 63]};
    out.append(quad, 4);
    if (wrap && g % kGroupsPerLine == 0) out.push_back('\n');
  }
  if (remainder != 0) {
    uint32_t v = uint32_t{p[0]} << 16 | (remainder == 2 ? uint32_t{p[1]} << 8 : 0);
    const char quad[4] = {kAlphabet[v >> 18], kAlphabet[v >> 12 & 63],
                          remainder == 2 ? kAlphabet[v >> 6 & 63] : '=', '='};
    out.append(quad, 4);
  }
  return out;
}

}  // namespace tavero::json
