// The page token: a secret made afresh for each run of the shell. The shell
// gives it only to the application's own documents, and the bridge carries
// out only calls that present it: web content that the application shows
// (an ad, a login page in a frame) runs in the same web view, but never
// learns the token.
#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

namespace tavero::bridge {

// The length of a page token's text.
inline constexpr size_t kPageTokenLength = 64;

// 32 random bytes from the kernel, as 64 lower-case hex digits.
std::string makePageToken();

// Compares in time independent of where the texts differ.
bool pageTokensMatch(std::string_view expected, std::string_view presented);

// The page token of a page channel message, read from the raw text before
// anything else of it is: the value of its first member, which must be
// "token" (the page client sends the token first, as a string without
// escapes). Nothing when the message does not begin that way.
std::optional<std::string_view> leadingMessageToken(std::string_view message);

}  // namespace tavero::bridge
