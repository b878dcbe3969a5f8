#include "modules/OriginIdentifier.h"

#include "base/URLScheme.h"

namespace tavero::modules {

std::string originIdentifier(std::string_view url) {
  std::string scheme(base::urlSchemeOf(url));
  if (scheme.empty()) return "(null)__0";

  size_t colon = scheme.size();
  std::string host;
  long port = 0;
  std::string_view rest = url.substr(colon + 1);
  if (rest.starts_with("//")) {
    std::string_view authority = rest.substr(2, rest.find_first_of("/?#", 2) - 2);
    if (size_t at = authority.rfind('@'); at != std::string_view::npos) authority.remove_prefix(at + 1);
    std::string_view hostPart = authority;
    if (authority.starts_with("[")) {  // an IPv6 literal, written without its brackets
      size_t close = authority.find(']');
      hostPart = authority.substr(1, close == std::string_view::npos ? std::string_view::npos : close - 1);
      authority = close == std::string_view::npos ? std::string_view{} : authority.substr(close + 1);
    } else {
      hostPart = authority.substr(0, authority.find(':'));
      authority.remove_prefix(hostPart.size());
    }
    host = std::string(hostPart);
    if (authority.starts_with(":")) {
      for (char c : authority.substr(1)) {
        if (c < '0' || c > '9' || port > 65535) break;
        port = port * 10 + (c - '0');
      }
    }
  }
  for (char& c : host)
    if (c == '/' || c == '\\') c = '_';
  return scheme + "_" + host + "_" + std::to_string(port);
}

}  // namespace tavero::modules
