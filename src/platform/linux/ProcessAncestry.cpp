#include "platform/linux/ProcessAncestry.h"

#include <charconv>
#include <string>

#include "base/FileRead.h"

namespace tavero::platform {

std::optional<pid_t> parentFromStat(std::string_view stat) {
  const size_t close = stat.rfind(')');
  if (close == std::string_view::npos) return std::nullopt;
  std::string_view rest = stat.substr(close + 1);
  // " S 1234 ...": the state, then the parent.
  const size_t state = rest.find_first_not_of(' ');
  if (state == std::string_view::npos) return std::nullopt;
  const size_t parentStart = rest.find_first_not_of(' ', rest.find(' ', state));
  if (parentStart == std::string_view::npos) return std::nullopt;
  pid_t parent = 0;
  auto [end, error] = std::from_chars(rest.data() + parentStart, rest.data() + rest.size(), parent);
  if (error != std::errc() || (end != rest.data() + rest.size() && *end != ' ')) return std::nullopt;
  return parent;
}

bool isDescendantProcess(pid_t pid, pid_t ancestor, const std::filesystem::path& proc) {
  // A chain longer than any the machine allows means a loop in what was read.
  for (int depth = 0; depth < 4096 && pid > 1; ++depth) {
    auto stat = base::readFileText(proc / std::to_string(pid) / "stat");
    if (!stat) return false;
    auto parent = parentFromStat(*stat);
    if (!parent) return false;
    if (*parent == ancestor) return true;
    pid = *parent;
  }
  return false;
}

}  // namespace tavero::platform
