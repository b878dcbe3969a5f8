// Where the program finds the modules built with it (the web process
// extension, the address book module): installed, in
// <prefix>/<libdir>/tavero/<folder>/ beside <prefix>/bin/tavero; run from a
// build tree (build/src/app/tavero, build/tests/e2e/..., build/bench/...),
// in <build>/<folder>/, the build's root being the folder above the program
// that holds CMakeCache.txt. Found from the program's own place
// (/proc/self/exe), so that the installed program names no build folder.
#pragma once

#include <filesystem>
#include <optional>
#include <string_view>

namespace tavero::app {

// The module's file, or nothing when neither place has it.
std::optional<std::filesystem::path> findProgramModule(std::string_view folder, std::string_view file);

}  // namespace tavero::app
