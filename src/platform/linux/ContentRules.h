// The web view's content rules (WebKit's content blocker format) that keep
// pages to their own files: every file: URL is blocked except those inside
// the readable folders, and a few URL prefixes are blocked outright.
//
// WebKit compiles rules once and keeps the compiled form in a store on
// disk; ContentRulesCompiler finds it there (keyed by a hash of the rules)
// or compiles it, asynchronously on the main loop.
#pragma once

#include <filesystem>
#include <functional>
#include <string>
#include <vector>

typedef struct _WebKitUserContentFilter WebKitUserContentFilter;

namespace tavero::platform {

// The rules' JSON text.
std::string contentRulesJSON(const std::vector<std::filesystem::path>& readableFolders,
                             const std::vector<std::string>& blockedURLPrefixes);

// A regular expression, in the subset content rules accept, that matches
// URLs beginning with `prefix`.
std::string urlPrefixPattern(const std::string& prefix);

class ContentRulesCompiler {
 public:
  using Done = std::function<void(WebKitUserContentFilter* filter)>;  // null when compiling failed

  // Calls `done` on the main thread with the filter for `rulesJSON`, using
  // `storeFolder` to keep compiled rules across launches. Main thread.
  static void compile(const std::filesystem::path& storeFolder, const std::string& rulesJSON, Done done);
};

}  // namespace tavero::platform
