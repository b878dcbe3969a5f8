// The page token: a secret made afresh for each run of the shell. The shell
// gives it only to the application's own documents, and the bridge carries
// out only calls that present it: web content that the application shows
// (an ad, a login page in a frame) runs in the same web view, but never
// learns the token.
#pragma once

#include <string>
#include <string_view>

namespace tavero::bridge {

// 32 random bytes from the kernel, as 64 lower-case hex digits.
std::string makePageToken();

// Compares in time independent of where the texts differ.
bool pageTokensMatch(std::string_view expected, std::string_view presented);

}  // namespace tavero::bridge
