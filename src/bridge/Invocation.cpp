#include "bridge/Invocation.h"

#include "bridge/ArgumentRules.h"

namespace tavero::bridge {

Invocation::Invocation(Arguments arguments, std::shared_ptr<const ArgumentTexts> texts)
    : arguments_(std::move(arguments)), texts_(std::move(texts)) {
  if (!arguments_) arguments_ = std::make_shared<const json::Object>();
}

std::string_view Invocation::text(std::string_view key) const {
  if (texts_) {
    if (auto it = texts_->find(key); it != texts_->end()) return it->second;
  }
  const json::Value* value = arguments_->find(key);
  const std::string* string = value ? value->ifString() : nullptr;
  return string ? std::string_view(*string) : std::string_view{};
}

bool Invocation::flag(std::string_view key) const { return boolValue(text(key)); }
int32_t Invocation::integer(std::string_view key) const { return intValue(text(key)); }
int64_t Invocation::longLong(std::string_view key) const { return longLongValue(text(key)); }

std::string Invocation::pageName() const { return pageNameOf(text("__source")); }

std::string Invocation::pageNameOf(std::string_view location) {
  location = location.substr(0, location.find_first_of("?#"));
  while (location.size() > 1 && location.back() == '/') location.remove_suffix(1);
  size_t slash = location.rfind('/');
  return std::string(slash == std::string_view::npos ? location : location.substr(slash + 1));
}

}  // namespace tavero::bridge
