#include "host/TQWebView.h"

#include "bridge/Invocation.h"
#include "host/JavaScriptString.h"

namespace tavero::host {
namespace {

std::string returningText(const std::string& value) {
  return "return '" + escapeForJavaScriptString(value) + "';";
}

}  // namespace

TQWebView::TQWebView(std::unique_ptr<platform::WebView> view) : view_(std::move(view)) {
  view_->setLoadFinishedHandler([this] { webViewDidFinishLoad(); });
  view_->setLoadFailedHandler(
      [this](const std::string& url, const std::string& reason) { webViewDidFailLoad(url, reason); });
  view_->setDocumentEndedHandler([this](const std::string& url) {
    if (documentEnded_) documentEnded_(bridge::Invocation::pageNameOf(url));
  });
}

void TQWebView::webViewDidFailLoad(const std::string&, const std::string& reason) { loadFailure_ = reason; }

void TQWebView::webViewDidFinishLoad() {
  loadFailure_.reset();
  isLoaded_ = true;
  if (originalDelegate_) originalDelegate_(*this);
}

std::string TQWebView::getterScript(const std::string& name, const std::string& body, bool onDevice) {
  return std::string(onDevice ? "window.device" : "window") + ".__defineGetter__('" + name +
         "', function(){" + body + "});";
}

std::vector<std::string> TQWebView::informationScripts(const PageDeviceInformation& information) {
  std::vector<std::string> scripts = {
      // The page API has always named the system "iOS"; pages test it to know they run in the shell.
      "window.device = {'OS':'iOS'};",
      getterScript("isQL", "return true;", false),
      getterScript("platformName", returningText(information.platformName), true),
      getterScript("name", returningText(information.name), true),
      // A device without an identifier shows the text "(null)", as pages have always seen it.
      getterScript("uuid", returningText(information.uuid.value_or("(null)")), true),
  };
  if (information.scheme) {
    scripts.push_back(getterScript("scheme",
                                   "return {url:'" + escapeForJavaScriptString(information.scheme->url) +
                                       "', sourceApplication:'" +
                                       escapeForJavaScriptString(information.scheme->sourceApplication) + "'};",
                                   true));
  }
  return scripts;
}

void TQWebView::setInformation(const PageDeviceInformation& information) {
  std::vector<std::string> scripts = informationScripts(information);
  if (isLoaded())
    for (const auto& script : scripts) view_->evaluateScript(script);
  view_->setDocumentStartScripts(std::move(scripts));
}

void TQWebView::defineGetter(const std::string& name, const std::string& body, bool onDevice) {
  view_->evaluateScript(getterScript(name, body, onDevice));
}

}  // namespace tavero::host
