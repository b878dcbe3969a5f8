#include "bridge/PageToken.h"

#include <sys/random.h>

#include <array>
#include <cerrno>
#include <cstdint>
#include <stdexcept>

#include "json/Hex.h"

namespace tavero::bridge {

std::string makePageToken() {
  std::array<uint8_t, 32> bytes{};
  size_t filled = 0;
  while (filled < bytes.size()) {
    ssize_t got = ::getrandom(bytes.data() + filled, bytes.size() - filled, 0);
    if (got < 0) {
      if (errno == EINTR) continue;
      throw std::runtime_error("no random bytes for the page token");
    }
    filled += static_cast<size_t>(got);
  }
  return json::hexText(bytes);
}

bool pageTokensMatch(std::string_view expected, std::string_view presented) {
  if (expected.empty() || expected.size() != presented.size()) return false;
  unsigned char difference = 0;
  for (size_t i = 0; i < expected.size(); ++i)
    difference |= static_cast<unsigned char>(expected[i] ^ presented[i]);
  return difference == 0;
}

namespace {

// Skips JSON white space, then `expected` if it is next.
bool skipTo(std::string_view& text, std::string_view expected) {
  size_t start = text.find_first_not_of(" \t\n\r");
  if (start == std::string_view::npos || text.substr(start, expected.size()) != expected) return false;
  text.remove_prefix(start + expected.size());
  return true;
}

}  // namespace

std::optional<std::string_view> leadingMessageToken(std::string_view message) {
  if (!skipTo(message, "{") || !skipTo(message, "\"token\"") || !skipTo(message, ":") || !skipTo(message, "\""))
    return std::nullopt;
  size_t end = message.find_first_of("\"\\");
  if (end == std::string_view::npos || message[end] != '"') return std::nullopt;
  return message.substr(0, end);
}

}  // namespace tavero::bridge
