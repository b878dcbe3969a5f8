// The origin identifier of a page: "<scheme>_<host>_<port>" of the page's
// URL (file pages give "file__0"). It keys the page's databases and names
// its file system folder.
#pragma once

#include <string>
#include <string_view>

namespace tavero::modules {

// A missing host is empty and a missing port 0; a text that is not a URL
// with a scheme gives the scheme "(null)", as pages' stored data has always
// been keyed. The result never holds "/".
std::string originIdentifier(std::string_view pageURL);

}  // namespace tavero::modules
