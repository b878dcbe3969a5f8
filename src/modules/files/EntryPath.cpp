#include "modules/files/EntryPath.h"

namespace tavero::modules::files {

EntryPath EntryPath::standardized(std::string_view text) {
  EntryPath path;
  while (!text.empty()) {
    size_t slash = text.find('/');
    std::string_view component = text.substr(0, slash);
    text = slash == std::string_view::npos ? std::string_view{} : text.substr(slash + 1);
    if (component.empty() || component == ".") continue;
    if (component == "..") {
      if (!path.components_.empty()) path.components_.pop_back();
      continue;
    }
    path.components_.emplace_back(component);
  }
  return path;
}

std::optional<EntryPath> EntryPath::fromAbsolute(std::string_view text) {
  if (!isAbsolutePath(text) || text.size() > kMaxPathBytes) return std::nullopt;
  EntryPath path = standardized(text);
  if (!path.isWithinBounds()) return std::nullopt;
  return path;
}

bool EntryPath::isWithinBounds() const {
  size_t textBytes = components_.empty() ? 1 : 0;  // "/" alone
  for (const std::string& component : components_) {
    if (component.size() > kMaxNameBytes) return false;
    textBytes += 1 + component.size();
  }
  return textBytes <= kMaxPathBytes;
}

std::string EntryPath::text() const { return "/" + relativeText(); }

std::string EntryPath::relativeText() const {
  std::string joined;
  for (const std::string& component : components_) {
    if (!joined.empty()) joined += '/';
    joined += component;
  }
  return joined;
}

const std::string& EntryPath::name() const {
  static const std::string kNone;
  return components_.empty() ? kNone : components_.back();
}

EntryPath EntryPath::parent() const {
  EntryPath parent = *this;
  if (!parent.components_.empty()) parent.components_.pop_back();
  return parent;
}

EntryPath EntryPath::child(const std::string& name) const {
  EntryPath child = *this;
  child.components_.push_back(name);
  return child;
}

bool EntryPath::isInside(const EntryPath& folder) const {
  if (components_.size() <= folder.components_.size()) return false;
  for (size_t i = 0; i < folder.components_.size(); ++i)
    if (components_[i] != folder.components_[i]) return false;
  return true;
}

bool isAbsolutePath(std::string_view text) { return text.starts_with('/'); }

std::string lastPathComponent(std::string_view text) {
  while (text.size() > 1 && text.back() == '/') text.remove_suffix(1);
  if (text == "/") return "/";
  size_t slash = text.rfind('/');
  return std::string(slash == std::string_view::npos ? text : text.substr(slash + 1));
}

bool isValidName(std::string_view name) {
  return !name.empty() && name.size() <= kMaxNameBytes && name != "." && name != ".." && name.find('/') == std::string_view::npos &&
         name.find('\0') == std::string_view::npos;
}

}  // namespace tavero::modules::files
