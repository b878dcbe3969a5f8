// Reports what a page's loads got wrong, for the developer: every
// subresource (script, style sheet, image, frame, request) that fails to
// load, or that a server answers with an HTTP error, gets one warning line
// naming the page and the URL. A misspelt <script src> is otherwise silent.
//
// URLs are logged without their query (queries carry what pages send, such
// as SQL text or passphrases) and cut to a readable length.
//
// Thread rules: main thread (WebKitGTK's).
#pragma once

#include <string>
#include <string_view>

typedef struct _WebKitWebView WebKitWebView;
typedef struct _GError GError;

namespace tavero::platform {

// Starts reporting the failed subresource loads of every document `view`
// loads, labelled with `pageName`, for as long as the view lives.
void logFailedSubresourceLoads(WebKitWebView* view, const std::string& pageName);

// Whether `error` only says that a load was cancelled (by a newer load, or
// by the page going away): not a failure worth reporting.
bool isCancelledLoad(const GError* error);

// `url` as the log shows it: without its query or fragment, at most about
// 200 characters.
std::string urlForLog(std::string_view url);

}  // namespace tavero::platform
