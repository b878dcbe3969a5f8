// Entry paths: a page's names for the entries of one of its file systems,
// "/"-separated texts in which "/" is the file system's root.
//
// An EntryPath is the standardized form: no empty or "." components, each
// ".." taking away the component before it, and ".." at the root staying at
// the root. A standardized path therefore never leaves its root, whatever
// the page sent ("/../../etc" is "/etc" beneath the root).
//
// Paths and names are bounded as the kernel bounds them: a path text of at
// most kMaxPathBytes, a name of at most kMaxNameBytes. The bounds hold for
// what a page sends and for the path it names.
#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace tavero::modules::files {

// PATH_MAX without its terminating NUL, and NAME_MAX.
inline constexpr size_t kMaxPathBytes = 4095;
inline constexpr size_t kMaxNameBytes = 255;

class EntryPath {
 public:
  // The root, "/".
  EntryPath() = default;

  // The standardized form of `text` read from the root, whether or not it
  // begins with "/".
  static EntryPath standardized(std::string_view text);
  // The standardized form of an absolute `text`; nothing when `text` does
  // not begin with "/", or when it or its standardized form is out of bounds.
  static std::optional<EntryPath> fromAbsolute(std::string_view text);

  // "/" for the root, otherwise "/a/b".
  std::string text() const;
  // The components relative to the root, joined by "/" ("" for the root).
  std::string relativeText() const;
  const std::vector<std::string>& components() const { return components_; }

  bool isRoot() const { return components_.empty(); }
  // Whether text() and every name in it are within the bounds above.
  bool isWithinBounds() const;
  // The last component; empty for the root.
  const std::string& name() const;
  // The folder holding this entry; the root for the root.
  EntryPath parent() const;
  // This path with `name` appended. REQUIRES: isValidName(name).
  EntryPath child(const std::string& name) const;
  // True when this path lies strictly beneath `folder`.
  bool isInside(const EntryPath& folder) const;

  bool operator==(const EntryPath&) const = default;

 private:
  std::vector<std::string> components_;
};

// True for an absolute entry path text.
bool isAbsolutePath(std::string_view text);

// The last component of `text` as the page wrote it: trailing separators
// are ignored, "/" stays "/", and a text without separators is itself.
std::string lastPathComponent(std::string_view text);

// A name for one entry: not empty, at most kMaxNameBytes, no "/" and no
// NUL, and not "." or ".." (which would name the folder itself or leave it).
bool isValidName(std::string_view name);

}  // namespace tavero::modules::files
