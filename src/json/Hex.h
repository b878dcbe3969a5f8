// Bytes written as hexadecimal digits, two a byte, high digit first: for
// tokens, digests, keys and escapes. Callers choose the letters' case, as
// what reads the text may expect one (SQL key literals, MAC addresses and
// percent-escapes are written in upper case, tokens and digests in lower).
#pragma once

#include <span>
#include <string>

namespace tavero::json {

enum class HexCase { lower, upper };

// The digit for `value`, 0 to 15.
constexpr char hexDigit(unsigned value, HexCase letters = HexCase::lower) {
  return (letters == HexCase::lower ? "0123456789abcdef" : "0123456789ABCDEF")[value & 15];
}

inline void appendHex(std::string& out, unsigned char byte, HexCase letters = HexCase::lower) {
  out += hexDigit(byte >> 4, letters);
  out += hexDigit(byte & 15, letters);
}

std::string hexText(std::span<const unsigned char> bytes, HexCase letters = HexCase::lower);

}  // namespace tavero::json
