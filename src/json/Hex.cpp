#include "json/Hex.h"

namespace tavero::json {

std::string hexText(std::span<const unsigned char> bytes, HexCase letters) {
  std::string text;
  text.reserve(bytes.size() * 2);
  for (unsigned char byte : bytes) appendHex(text, byte, letters);
  return text;
}

}  // namespace tavero::json
