// Which documents are the application's own, decided in the web process by
// the same rule the shell's page client injection follows: a URL matching
// one of the bundle's URL patterns ("file:///app/webapp/*": `*` stands for
// any run of characters, the rest must be equal), or a document of exactly
// the development server's origin (scheme, host and port).
//
// Plain C++: tested without a web process.
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace tavero::webextension {

class BundleDocumentRule {
 public:
  BundleDocumentRule(std::vector<std::string> urlPatterns, std::string developmentOrigin);

  bool isBundleDocument(std::string_view url) const;

  // "http://127.0.0.1:5173" of "http://127.0.0.1:5173/app/index.html"; empty
  // for a URL without an authority (file:, data:, blob:, about:).
  static std::string originOf(std::string_view url);
  static bool matchesPattern(std::string_view pattern, std::string_view url);

 private:
  std::vector<std::string> urlPatterns_;
  std::string developmentOrigin_;
};

}  // namespace tavero::webextension
