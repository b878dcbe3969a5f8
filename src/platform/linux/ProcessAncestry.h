// Whether a process descends from another, read from /proc/<pid>/stat
// (each process's parent, up the tree): what tells the shell's web
// processes, which the shell starts, from other programs of its user.
#pragma once

#include <sys/types.h>

#include <filesystem>
#include <optional>
#include <string_view>

namespace tavero::platform {

// The parent of `pid`, from the text of its /proc/<pid>/stat; nothing when
// the text is not one ("pid (command) state ppid ...", the command may hold
// spaces and parentheses).
std::optional<pid_t> parentFromStat(std::string_view stat);

// `pid` is below `ancestor` (not `ancestor` itself). A process whose chain
// cannot be read to the end (it ended meanwhile) is not.
bool isDescendantProcess(pid_t pid, pid_t ancestor, const std::filesystem::path& proc = "/proc");

}  // namespace tavero::platform
