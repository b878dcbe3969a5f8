// Which URLs a page may have the device open. Pages may open web pages,
// mail, phone and message links and other apps' schemes; they may not open
// local files or folders, network file systems, or scripts (file:, smb:,
// sftp:, javascript:, data:...), which would hand a page's text to a file
// manager or run it outside the page. Anything that is not a well-formed
// URL opens nothing.
//
// Pure functions; any thread.
#pragma once

#include <string>
#include <string_view>

namespace tavero::modules {

struct URLOpeningVerdict {
  bool allowed = false;
  std::string scheme;  // lower case; empty when there is none
  std::string reason;  // why not, when refused
};

URLOpeningVerdict urlOpeningVerdict(std::string_view url);

}  // namespace tavero::modules
