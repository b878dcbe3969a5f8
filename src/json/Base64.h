// Standard base64 (RFC 4648 alphabet, "=" padding).
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>

namespace tavero::json {

// The base64 text of `bytes`; empty when `bytes` is empty. With `wrap`, a line
// feed follows every 72 characters of full groups (also after the last full
// group when it completes a line), never after the final padded group.
std::string ql_base64_encode(std::span<const uint8_t> bytes, bool wrap);

// The bytes that unwrapped, padded base64 `text` stands for (what a page's
// btoa writes); nullopt for anything else: a character outside the
// alphabet (white space included), a length that is not a multiple of 4,
// padding other than one or two "=" at the end, or bits left over in the
// last group (so each byte string has exactly one text).
std::optional<std::string> base64Decode(std::string_view text);

}  // namespace tavero::json
