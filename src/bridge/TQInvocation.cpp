#include "bridge/TQInvocation.h"

#include "bridge/ArgumentRules.h"

namespace tavero::bridge {

TQInvocation::TQInvocation(Arguments arguments) : arguments_(std::move(arguments)) {
  if (!arguments_) arguments_ = std::make_shared<const json::Object>();
}

std::string_view TQInvocation::text(std::string_view key) const {
  const json::Value* value = arguments_->find(key);
  const std::string* string = value ? value->ifString() : nullptr;
  return string ? std::string_view(*string) : std::string_view{};
}

bool TQInvocation::flag(std::string_view key) const { return boolValue(text(key)); }
int32_t TQInvocation::integer(std::string_view key) const { return intValue(text(key)); }
int64_t TQInvocation::longLong(std::string_view key) const { return longLongValue(text(key)); }

std::string TQInvocation::pageName() const {
  std::string_view source = text("__source");
  source = source.substr(0, source.find_first_of("?#"));
  while (source.size() > 1 && source.back() == '/') source.remove_suffix(1);
  size_t slash = source.rfind('/');
  return std::string(slash == std::string_view::npos ? source : source.substr(slash + 1));
}

}  // namespace tavero::bridge
