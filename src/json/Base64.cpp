#include "json/Base64.h"

#include <array>

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

namespace {

constexpr uint8_t kNotBase64 = 0xff;

constexpr std::array<uint8_t, 256> decodingTable() {
  std::array<uint8_t, 256> table{};
  table.fill(kNotBase64);
  constexpr std::string_view alphabet = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
  for (size_t i = 0; i < alphabet.size(); ++i) table[static_cast<uint8_t>(alphabet[i])] = static_cast<uint8_t>(i);
  return table;
}

}  // namespace

std::optional<std::string> base64Decode(std::string_view text) {
  static constexpr std::array<uint8_t, 256> kTable = decodingTable();
  if (text.size() % 4 != 0) return std::nullopt;
  size_t padding = 0;
  if (!text.empty() && text.back() == '=') padding = text[text.size() - 2] == '=' ? 2 : 1;

  std::string bytes;
  bytes.reserve(text.size() / 4 * 3);
  const size_t end = text.size() - (padding == 0 ? 0 : 4);  // the padded group is read on its own
  for (size_t i = 0; i < end; i += 4) {
    const uint8_t a = kTable[static_cast<uint8_t>(text[i])], b = kTable[static_cast<uint8_t>(text[i + 1])],
                  c = kTable[static_cast<uint8_t>(text[i + 2])], d = kTable[static_cast<uint8_t>(text[i + 3])];
    if (((a | b | c | d) & 0xc0) != 0) return std::nullopt;  // a character outside the alphabet
    const uint32_t v = uint32_t{a} << 18 | uint32_t{b} << 12 | uint32_t{c} << 6 | d;
    const char group[3] = {static_cast<char>(v >> 16), static_cast<char>(v >> 8 & 0xff), static_cast<char>(v & 0xff)};
    bytes.append(group, 3);
  }
  if (padding == 0) return bytes;

  const std::string_view last = text.substr(end);
  const uint8_t a = kTable[static_cast<uint8_t>(last[0])], b = kTable[static_cast<uint8_t>(last[1])];
  const uint8_t c = padding == 1 ? kTable[static_cast<uint8_t>(last[2])] : 0;
  if (((a | b | c) & 0xc0) != 0) return std::nullopt;
  const uint32_t v = uint32_t{a} << 18 | uint32_t{b} << 12 | uint32_t{c} << 6;
  if ((padding == 2 ? v & 0xffff : v & 0xff) != 0) return std::nullopt;  // bits past the last byte
  bytes.push_back(static_cast<char>(v >> 16));
  if (padding == 1) bytes.push_back(static_cast<char>(v >> 8 & 0xff));
  return bytes;
}

}  // namespace tavero::json
