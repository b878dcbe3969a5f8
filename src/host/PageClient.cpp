#include "host/PageClient.h"

#include "embedded/kPageClientScript.h"
#include "host/JavaScriptString.h"
#include "host/TQEngine.h"
#include "platform/FileURL.h"

namespace tavero::host {

std::string bridgeSettingsScript(const PageClientSettings& settings) {
  return "Object.defineProperty(window, '__taveroBridge', {value: Object.freeze({token: '" +
         escapeForJavaScriptString(settings.pageToken) + "', port: " + std::to_string(settings.bridgePort) +
         "}), enumerable: false, writable: false, configurable: false});";
}

std::vector<std::string> pageClientScripts() {
  static constexpr std::string_view kSeparator = "//@tavero-next-file\n";
  std::vector<std::string> scripts;
  std::string_view rest = kPageClientScript;
  for (size_t at; (at = rest.find(kSeparator)) != std::string_view::npos; rest.remove_prefix(at + kSeparator.size()))
    scripts.emplace_back(rest.substr(0, at));
  scripts.emplace_back(rest);
  return scripts;
}

platform::BundleDocuments bundleDocumentsFor(const platform::BundleInfo& bundle, const platform::HomeFolders& home,
                                             const PageClientSettings& settings) {
  platform::BundleDocuments documents;
  // The pages of the bundle, and the generated start page, whose address is
  // the bundle's folder written its own way.
  documents.urlPatterns = {platform::fileURLForPath(bundle.webappPath()) + "/*",
                           TQEngine::generatedPageBaseURL(bundle.path.string()) + "*"};
  documents.developmentOrigin = settings.developmentOrigin;
  documents.scripts = {bridgeSettingsScript(settings)};
  for (auto& script : pageClientScripts()) documents.scripts.push_back(std::move(script));
  // The bundle, and what the shell writes for pages to show (pictures).
  documents.readableFolders = {bundle.webappPath(), home.documents()};
  documents.allowsDownloads = bundle.allowsDownloads;
  if (settings.wantedPort != 0 && settings.bridgePort != settings.wantedPort) {
    // Another program holds the port pages expect: nothing may reach it.
    const std::string port = std::to_string(settings.wantedPort);
    for (const char* host : {"localhost", "127.0.0.1", "[::1]"}) {
      // The development server the app comes from may be what holds it.
      if (settings.developmentOrigin.ends_with(std::string("//") + host + ":" + port)) continue;
      for (const char* scheme : {"http://", "https://", "ws://"})
        documents.blockedURLPrefixes.push_back(std::string(scheme) + host + ":" + port + "/");
    }
  }
  return documents;
}

}  // namespace tavero::host
