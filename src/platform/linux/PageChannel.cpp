#include "platform/linux/PageChannel.h"

#include <webkit2/webkit2.h>

#include "base/MainThread.h"

namespace tavero::platform {
namespace {

class WebKitMessageReply : public PageMessageReply {
 public:
  WebKitMessageReply(WebKitScriptMessageReply* reply, JSCContext* context)
      : reply_(webkit_script_message_reply_ref(reply)), context_(JSC_CONTEXT(g_object_ref(context))) {}
  ~WebKitMessageReply() override {
    base::requireMainThread("the page message reply");
    if (reply_) {
      webkit_script_message_reply_return_error_message(reply_, "the shell did not answer");
      release();
    }
  }

  void resolve(const std::string& text) override {
    base::requireMainThread("the page message reply");
    if (!reply_) return;
    GBytes* bytes = g_bytes_new_static(text.data(), text.size());
    JSCValue* value = jsc_value_new_string_from_bytes(context_, bytes);
    g_bytes_unref(bytes);
    webkit_script_message_reply_return_value(reply_, value);
    g_object_unref(value);
    release();
  }
  void reject(const std::string& message) override {
    if (!reply_) return;
    webkit_script_message_reply_return_error_message(reply_, message.c_str());
    release();
  }

 private:
  void release() {
    webkit_script_message_reply_unref(reply_);
    reply_ = nullptr;
    g_object_unref(context_);
  }
  WebKitScriptMessageReply* reply_;
  JSCContext* context_;
};

gboolean messageReceived(WebKitUserContentManager*, JSCValue* value, WebKitScriptMessageReply* reply,
                         gpointer data) {
  auto* receiver = static_cast<PageChannel::Receiver*>(data);
  auto answer = std::make_unique<WebKitMessageReply>(reply, jsc_value_get_context(value));
  if (!jsc_value_is_string(value)) {
    answer->reject("the shell takes text messages");
    return TRUE;
  }
  char* text = jsc_value_to_string(value);
  std::string message(text ? text : "");
  g_free(text);
  (*receiver)(std::move(message), std::move(answer));
  return TRUE;
}

}  // namespace

PageChannel::PageChannel(WebKitUserContentManager* manager, Receiver receiver)
    : manager_(manager), receiver_(std::move(receiver)) {
  signalId_ = g_signal_connect(manager_, "script-message-with-reply-received::tavero", G_CALLBACK(messageReceived),
                               &receiver_);
  webkit_user_content_manager_register_script_message_handler_with_reply(manager_, kHandlerName, nullptr);
}

PageChannel::~PageChannel() {
  webkit_user_content_manager_unregister_script_message_handler(manager_, kHandlerName);
  g_signal_handler_disconnect(manager_, signalId_);
}

}  // namespace tavero::platform
