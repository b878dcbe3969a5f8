// Why a file is not a property list, in words a developer can act on.
// libplist only says that it could not read a file; this reads the file
// again, as XML with GLib's markup parser or as a binary property list's
// frame, to find the first thing wrong and where it is.
//
// Pure function; any thread.
#pragma once

#include <string>
#include <string_view>

namespace tavero::platform {

// The reason `data`, which libplist could not read, is not a property list:
// "line 3, character 9: ..." for XML, or what is wrong with a binary one.
// When nothing specific is found, says that libplist gave no reason.
std::string plistProblem(std::string_view data);

}  // namespace tavero::platform
