// Standard base64 (RFC 4648 alphabet, "=" padding).
#pragma once

#include <cstdint>
#include <span>
#include <string>

namespace tavero::json {

// The base64 text of `bytes`; empty when `bytes` is empty. With `wrap`, a line
// feed follows every 72 characters of full groups (also after the last full
// group when it completes a line), never after the final padded group.
std::string ql_base64_encode(std::span<const uint8_t> bytes, bool wrap);

}  // namespace tavero::json
