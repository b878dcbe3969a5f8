#include "app/ProgramModules.h"

namespace tavero::app {

namespace fs = std::filesystem;

std::optional<fs::path> findProgramModule(std::string_view folder, std::string_view file) {
  std::error_code ec;
  const fs::path program = fs::read_symlink("/proc/self/exe", ec);
  if (ec) return std::nullopt;
  fs::path installed = program.parent_path().parent_path() / TAVERO_INSTALL_LIBDIR / "tavero" / folder / file;
  if (fs::is_regular_file(installed, ec)) return installed;
  fs::path root = program.parent_path();
  for (int up = 0; up < 3 && root.has_relative_path(); ++up) {
    root = root.parent_path();
    fs::path built = root / folder / file;
    if (fs::is_regular_file(root / "CMakeCache.txt", ec) && fs::is_regular_file(built, ec)) return built;
  }
  return std::nullopt;
}

}  // namespace tavero::app
