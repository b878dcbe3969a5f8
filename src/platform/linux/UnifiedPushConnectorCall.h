// What a call to the app's UnifiedPush connector carries, whichever version
// of the protocol made it: version 2 in one a{sv} argument ("token",
// "endpoint", "message" as bytes, "id"), version 1 in plain arguments
// (Message(s token, ay message, s id), NewEndpoint(s token, s endpoint),
// Unregistered(s token)). GDBus has checked the arguments' types against the
// connector's description before the call gets here.
//
// Thread rules: the thread the call arrived on.
#pragma once

#include <string>
#include <string_view>

typedef struct _GDBusMethodInvocation GDBusMethodInvocation;
typedef struct _GVariant GVariant;

namespace tavero::platform {

class UnifiedPushConnectorCall {
 public:
  UnifiedPushConnectorCall(bool versionTwo, const std::string& method, GVariant* parameters);
  ~UnifiedPushConnectorCall();
  UnifiedPushConnectorCall(const UnifiedPushConnectorCall&) = delete;
  UnifiedPushConnectorCall& operator=(const UnifiedPushConnectorCall&) = delete;

  // The message's bytes, as they came (empty for the other methods).
  std::string_view body() const;
  // Version 2 answers a{sv}: a message's id acknowledges it (the
  // distributor then drops it); version 1 answers nothing.
  void answer(GDBusMethodInvocation* invocation) const;

  std::string token;
  std::string endpoint;

 private:
  void readMembers(GVariant* parameters);

  bool versionTwo_;
  std::string method_;
  std::string id_;
  GVariant* message_ = nullptr;
};

}  // namespace tavero::platform
