#include "net/DocumentRoot.h"

#include <algorithm>
#include <system_error>

#include "base/FileRead.h"
#include "net/PercentDecoding.h"

namespace tavero::net {
namespace fs = std::filesystem;

namespace {

bool isInside(const fs::path& candidate, const fs::path& root) {
  auto [rootEnd, candidateAt] = std::mismatch(root.begin(), root.end(), candidate.begin(), candidate.end());
  return rootEnd == root.end();
}

}  // namespace

std::optional<std::string> readFileInsideDocumentRoot(const fs::path& root, std::string_view target) {
  if (root.empty()) return std::nullopt;
  std::string_view path = target.substr(0, target.find_first_of("?#"));
  if (path.empty() || path.front() != '/') return std::nullopt;
  auto decoded = percentDecode(path);
  if (!decoded || decoded->find('\0') != std::string::npos) return std::nullopt;
  for (const auto& part : fs::path(*decoded))
    if (part == "..") return std::nullopt;

  std::error_code ec;
  fs::path canonicalRoot = fs::canonical(root, ec);
  if (ec) return std::nullopt;
  // Resolving symbolic links before the comparison keeps a link inside the
  // root from reaching a file outside it.
  fs::path file = fs::canonical(canonicalRoot / fs::path(*decoded).relative_path(), ec);
  if (ec || !isInside(file, canonicalRoot) || !fs::is_regular_file(file, ec)) return std::nullopt;

  return base::readFileText(file);
}

}  // namespace tavero::net
