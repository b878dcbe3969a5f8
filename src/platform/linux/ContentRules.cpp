#include "platform/linux/ContentRules.h"

#include <webkit2/webkit2.h>

#include <cstdint>
#include <cstdio>
#include <memory>

#include "json/JsonCodec.h"
#include "log/Log.h"
#include "platform/FileURL.h"

namespace tavero::platform {
namespace {

json::Value rule(const std::string& urlFilter, std::string_view action, bool caseSensitive) {
  json::Object trigger;
  trigger.append("url-filter", urlFilter);
  if (caseSensitive) trigger.append("url-filter-is-case-sensitive", true);
  json::Object then;
  then.append("type", action);
  json::Object rule;
  rule.append("trigger", json::Value(std::move(trigger)));
  rule.append("action", json::Value(std::move(then)));
  return json::Value(std::move(rule));
}

// A stable name for a rule set: the store keeps one compiled filter per name.
std::string identifierFor(const std::string& rules) {
  uint64_t hash = 14695981039346656037ull;  // FNV-1a
  for (unsigned char c : rules) hash = (hash ^ c) * 1099511628211ull;
  char text[17];
  std::snprintf(text, sizeof text, "%016llx", static_cast<unsigned long long>(hash));
  return std::string("tavero-") + text;
}

struct CompileRequest {
  std::string identifier;
  std::string rules;
  ContentRulesCompiler::Done done;
  WebKitUserContentFilterStore* store;
  ~CompileRequest() { g_object_unref(store); }
};

void saved(GObject* source, GAsyncResult* result, gpointer data) {
  std::unique_ptr<CompileRequest> request(static_cast<CompileRequest*>(data));
  GError* error = nullptr;
  WebKitUserContentFilter* filter =
      webkit_user_content_filter_store_save_finish(WEBKIT_USER_CONTENT_FILTER_STORE(source), result, &error);
  if (!filter) {
    log::error(std::string("web view: the content rules do not compile: ") + (error ? error->message : "?"));
    if (error) g_error_free(error);
  }
  request->done(filter);
  if (filter) webkit_user_content_filter_unref(filter);
}

void loaded(GObject* source, GAsyncResult* result, gpointer data) {
  auto* request = static_cast<CompileRequest*>(data);
  WebKitUserContentFilter* filter =
      webkit_user_content_filter_store_load_finish(WEBKIT_USER_CONTENT_FILTER_STORE(source), result, nullptr);
  if (filter) {
    std::unique_ptr<CompileRequest> owned(request);
    owned->done(filter);
    webkit_user_content_filter_unref(filter);
    return;
  }
  // Not compiled yet (first launch, or the rules changed): compile now.
  GBytes* bytes = g_bytes_new(request->rules.data(), request->rules.size());
  webkit_user_content_filter_store_save(request->store, request->identifier.c_str(), bytes, nullptr, saved, request);
  g_bytes_unref(bytes);
}

}  // namespace

std::string urlPrefixPattern(const std::string& prefix) {
  std::string pattern = "^";
  for (char c : prefix) {
    if (std::string_view(".*+?()[]{}\\^$|").find(c) != std::string_view::npos) pattern += '\\';
    pattern += c;
  }
  return pattern;
}

std::string contentRulesJSON(const std::vector<std::filesystem::path>& readableFolders,
                             const std::vector<std::string>& blockedURLPrefixes) {
  json::Array rules = {rule("^file:", "block", false)};
  for (const auto& folder : readableFolders) {
    std::string url = fileURLForPath(folder);
    if (!url.ends_with('/')) url += '/';
    rules.push_back(rule(urlPrefixPattern(url), "ignore-previous-rules", true));
  }
  // Last, so that nothing above lets them through.
  for (const auto& prefix : blockedURLPrefixes) rules.push_back(rule(urlPrefixPattern(prefix), "block", false));
  // The file loader decodes what the rules above saw encoded: "webapp/..%2F"
  // would lead out of the folder. No file URL of the app's needs encoded
  // separators, dots or NULs (case-insensitive rules: %2f and %2F alike).
  for (const char* encoded : {"%2f", "%5c", "%2e", "%00"})
    rules.push_back(rule(std::string("^file:.*") + encoded, "block", false));
  return json::JsonCodec::jsonStringForValue(json::Value(std::move(rules)));
}

void ContentRulesCompiler::compile(const std::filesystem::path& storeFolder, const std::string& rulesJSON,
                                   Done done) {
  auto* request = new CompileRequest{
      .identifier = identifierFor(rulesJSON),
      .rules = rulesJSON,
      .done = std::move(done),
      .store = webkit_user_content_filter_store_new(storeFolder.c_str()),
  };
  webkit_user_content_filter_store_load(request->store, request->identifier.c_str(), nullptr, loaded, request);
}

}  // namespace tavero::platform
