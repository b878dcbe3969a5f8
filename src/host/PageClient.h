// What the shell gives the application's own documents, and only them: the
// page token and the bridge's port (window.__taveroBridge), the page client
// (examples/client/*.js: Kio.device.Communicator and the service wrappers),
// which files pages may read, and which addresses they may not reach.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "platform/Bundle.h"
#include "platform/HomeFolders.h"
#include "platform/WebView.h"

namespace tavero::host {

struct PageClientSettings {
  std::string pageToken;        // the secret of this run (see bridge::makePageToken)
  uint16_t bridgePort = 0;      // where the HTTP bridge listens
  uint16_t wantedPort = 0;      // the port pages expect (3000); blocked when it is not ours
  // The origin of the development server the app is loaded from
  // ("http://127.0.0.1:5173"; empty: none): its documents are the app's too.
  std::string developmentOrigin;
};

platform::BundleDocuments bundleDocumentsFor(const platform::BundleInfo& bundle, const platform::HomeFolders& home,
                                             const PageClientSettings& settings);

// The script that tells documents the token and the port.
std::string bridgeSettingsScript(const PageClientSettings& settings);

// The page client, as the shell puts it into documents: one script per
// file of examples/client, the bridge client first. Each runs on its own,
// so that a fault in one leaves the others working.
std::vector<std::string> pageClientScripts();

}  // namespace tavero::host
