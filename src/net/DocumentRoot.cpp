#include "net/DocumentRoot.h"

#include <algorithm>
#include <fstream>
#include <iterator>
#include <system_error>

namespace tavero::net {
namespace fs = std::filesystem;

namespace {

int hexValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

std::optional<std::string> percentDecodePath(std::string_view path) {
  std::string decoded;
  decoded.reserve(path.size());
  for (size_t i = 0; i < path.size(); ++i) {
    if (path[i] != '%') {
      decoded += path[i];
      continue;
    }
    if (i + 2 >= path.size()) return std::nullopt;
    int high = hexValue(path[i + 1]), low = hexValue(path[i + 2]);
    if (high < 0 || low < 0) return std::nullopt;
    char c = static_cast<char>(high * 16 + low);
    if (c == '\0') return std::nullopt;
    decoded += c;
    i += 2;
  }
  return decoded;
}

bool isInside(const fs::path& candidate, const fs::path& root) {
  auto [rootEnd, candidateAt] = std::mismatch(root.begin(), root.end(), candidate.begin(), candidate.end());
  return rootEnd == root.end();
}

}  // namespace

std::optional<std::string> readFileInsideDocumentRoot(const fs::path& root, std::string_view target) {
  if (root.empty()) return std::nullopt;
  std::string_view path = target.substr(0, target.find_first_of("?#"));
  if (path.empty() || path.front() != '/') return std::nullopt;
  auto decoded = percentDecodePath(path);
  if (!decoded) return std::nullopt;
  for (const auto& part : fs::path(*decoded))
    if (part == "..") return std::nullopt;

  std::error_code ec;
  fs::path canonicalRoot = fs::canonical(root, ec);
  if (ec) return std::nullopt;
  // Resolving symbolic links before the comparison keeps a link inside the
  // root from reaching a file outside it.
  fs::path file = fs::canonical(canonicalRoot / fs::path(*decoded).relative_path(), ec);
  if (ec || !isInside(file, canonicalRoot) || !fs::is_regular_file(file, ec)) return std::nullopt;

  std::ifstream in(file, std::ios::binary);
  if (!in) return std::nullopt;
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

}  // namespace tavero::net
