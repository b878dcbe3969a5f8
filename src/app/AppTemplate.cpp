#include "app/AppTemplate.h"

#include <array>
#include <utility>

#include "json/JsonCodec.h"

namespace tavero::app {

namespace {

std::string xmlEscaped(std::string_view text) {
  std::string escaped;
  for (char c : text) {
    switch (c) {
      case '&': escaped += "&amp;"; break;
      case '<': escaped += "&lt;"; break;
      case '>': escaped += "&gt;"; break;
      case '"': escaped += "&quot;"; break;
      case '\'': escaped += "&#39;"; break;
      default: escaped += c;
    }
  }
  return escaped;
}

}  // namespace

std::string filledTemplate(std::string_view text, const AppIdentity& app) {
  // Longer names first where one begins with another.
  const std::array<std::pair<std::string_view, std::string>, 4> values = {{
      {"@@APP_NAME_JSON@@", json::JsonCodec::jsonStringValue(app.displayName)},
      {"@@APP_NAME_XML@@", xmlEscaped(app.displayName)},
      {"@@APP_NAME@@", app.displayName},
      {"@@APP_ID@@", app.identifier},
  }};
  std::string filled;
  filled.reserve(text.size());
  size_t at = 0;
  while (at < text.size()) {
    size_t marker = text.find("@@", at);
    if (marker == std::string_view::npos) break;
    filled.append(text.substr(at, marker - at));
    at = marker;
    bool replaced = false;
    for (const auto& [placeholder, value] : values) {
      if (text.substr(at).starts_with(placeholder)) {
        filled += value;
        at += placeholder.size();
        replaced = true;
        break;
      }
    }
    if (!replaced) filled += text[at++];
  }
  filled.append(text.substr(at));
  return filled;
}

}  // namespace tavero::app
