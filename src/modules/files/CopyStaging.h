// Where copies are made before they move into place: a folder beside the
// file system roots ("<file systems>/.copying", never a root itself: origin
// identifiers do not begin with "."). A copy appears at its target whole or
// not at all, replaces an entry there in one step, and a copy cut short by
// a crash is left where no page sees it. Leftovers of processes that have
// ended are removed by removeLeftovers().
//
// Thread rules: any thread; copies in flight at once each have their own
// name ("<process id>-<counter>").
#pragma once

#include <atomic>
#include <cstdint>
#include <filesystem>
#include <string>
#include <system_error>

#include "modules/files/Result.h"
#include "modules/files/UniqueFd.h"

namespace tavero::modules::files {

class CopyStaging {
 public:
  explicit CopyStaging(std::filesystem::path folder) : folder_(std::move(folder)) {}

  // Copies `name` in `sourceParent` to `targetName` in `targetParent`.
  // `replace`: as for moveEntry.
  std::error_code copy(int sourceParent, const std::string& name, int targetParent, const std::string& targetName,
                       bool replace);

  // Removes what copies of ended processes left behind.
  void removeLeftovers();

 private:
  Result<UniqueFd> openFolder(bool create);

  const std::filesystem::path folder_;
  std::atomic<uint64_t> lastCopyUid_ = 0;
};

}  // namespace tavero::modules::files
