#include "app/BundlePath.h"

#include <system_error>

namespace tavero::app {

namespace fs = std::filesystem;

fs::path bundlePathFromArgument(std::string_view argument) {
  std::error_code ec;
  fs::path absolute = fs::absolute(fs::path(argument), ec);
  if (ec) absolute = fs::path(argument);
  fs::path resolved = fs::weakly_canonical(absolute, ec);
  if (ec) resolved = absolute.lexically_normal();
  // "app/" normalises to "app/" (an empty last part): drop it, so that the
  // folder's name is its last part.
  if (!resolved.has_filename() && resolved.has_parent_path() && resolved != resolved.root_path())
    resolved = resolved.parent_path();
  return resolved;
}

}  // namespace tavero::app
