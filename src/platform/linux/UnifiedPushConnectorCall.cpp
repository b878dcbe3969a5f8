#include "platform/linux/UnifiedPushConnectorCall.h"

#include <gio/gio.h>

namespace tavero::platform {
namespace {

// A string member of an a{sv} argument, or "".
std::string stringMember(GVariantDict* dict, const char* key) {
  const char* value = nullptr;
  return g_variant_dict_lookup(dict, key, "&s", &value) ? std::string(value) : std::string();
}

}  // namespace

UnifiedPushConnectorCall::UnifiedPushConnectorCall(bool versionTwo, const std::string& method, GVariant* parameters)
    : versionTwo_(versionTwo), method_(method) {
  if (versionTwo_) {
    readMembers(parameters);
  } else if (method == "Message") {
    const char* first = nullptr;
    const char* third = nullptr;
    g_variant_get(parameters, "(&s@ay&s)", &first, &message_, &third);
    token = first;
    id_ = third;
  } else if (method == "NewEndpoint") {
    const char* first = nullptr;
    const char* second = nullptr;
    g_variant_get(parameters, "(&s&s)", &first, &second);
    token = first;
    endpoint = second;
  } else {
    const char* first = nullptr;
    g_variant_get(parameters, "(&s)", &first);
    token = first;
  }
}

UnifiedPushConnectorCall::~UnifiedPushConnectorCall() {
  if (message_) g_variant_unref(message_);
}

void UnifiedPushConnectorCall::readMembers(GVariant* parameters) {
  GVariant* members = g_variant_get_child_value(parameters, 0);
  GVariantDict dict;
  g_variant_dict_init(&dict, members);
  token = stringMember(&dict, "token");
  endpoint = stringMember(&dict, "endpoint");
  id_ = stringMember(&dict, "id");
  message_ = g_variant_dict_lookup_value(&dict, "message", G_VARIANT_TYPE_BYTESTRING);
  g_variant_dict_clear(&dict);
  g_variant_unref(members);
}

std::string_view UnifiedPushConnectorCall::body() const {
  if (!message_) return {};
  gsize size = 0;
  const void* data = g_variant_get_fixed_array(message_, &size, 1);
  return {static_cast<const char*>(data), size};
}

void UnifiedPushConnectorCall::answer(GDBusMethodInvocation* invocation) const {
  if (!versionTwo_) {
    g_dbus_method_invocation_return_value(invocation, nullptr);
    return;
  }
  GVariantBuilder answer;
  g_variant_builder_init(&answer, G_VARIANT_TYPE("a{sv}"));
  if (method_ == "Message" && !id_.empty())
    g_variant_builder_add(&answer, "{sv}", "id", g_variant_new_string(id_.c_str()));
  g_dbus_method_invocation_return_value(invocation, g_variant_new("(a{sv})", &answer));
}

}  // namespace tavero::platform
