// `tavero create DIR [--id ID] [--name NAME]`: a new web application in
// DIR, ready for `tavero run DIR`: Info.plist, a start page that uses two
// services, a device profile, the page client's types for editors, a
// README and a smoke test. Refuses before writing anything when one of its
// files is already there.
#pragma once

#include <iosfwd>
#include <string>
#include <vector>

namespace tavero::app {

// Returns the exit status (ExitStatus.h); prints what it made, and the
// commands to run next, to `out`, and problems to `err`.
int runCreate(const std::vector<std::string>& args, std::ostream& out, std::ostream& err);

}  // namespace tavero::app
