#include "webextension/NativeCalls.h"

#include <glib-unix.h>
#include <jsc/jsc.h>

#include <cstring>
#include <optional>
#include <string_view>
#include <utility>
#include <vector>

namespace tavero::webextension {

using wire::MessageFrame;

namespace {

// What done(kind, text) and postSync's first character say.
constexpr int kAnswer = 0;
constexpr int kRejected = 1;
constexpr int kLost = 2;

// The top bit of a request's tag marks bytes calls: pages numbered that high
// take the other roads.
bool numberedTooHigh(uint32_t page) { return (page & MessageFrame::kBytesFlag) != 0; }

int kindOf(const MessageFrame& frame) { return frame.tag == MessageFrame::kAnswerTag ? kAnswer : kRejected; }

// Said once per connection: the page client then takes its other roads.
// The shell closing it is no failure: it does so when the app ends.
void reportFailure(const ShellSocket& socket, bool& reported) {
  if (reported || !socket.failed() || socket.closedByShell()) return;
  reported = true;
  g_warning("tavero web extension: the connection to the shell failed (%s); pages call on the message channel",
            socket.failure().c_str());
}

// The page's string of `text` (UTF-8). Made from the bytes and their
// length: JavaScriptCore then keeps ASCII as it is (an answer of rows is
// mostly ASCII) in one pass, where a C string would first be widened to
// UTF-16 in a buffer twice its size.
JSCValue* pageString(JSCContext* context, std::string_view text) {
  GBytes* bytes = g_bytes_new_static(text.data(), text.size());
  JSCValue* string = jsc_value_new_string_from_bytes(context, bytes);
  g_bytes_unref(bytes);
  return string;
}

void finishDone(JSCValue* done, JSCValue* result) {
  if (result) g_object_unref(result);
  // An exception the page's function threw stays in its context; the next
  // answers must still reach theirs.
  jsc_context_clear_exception(jsc_value_get_context(done));
  g_object_unref(done);
}

void callDone(JSCValue* done, int kind, const std::string& text) {
  JSCValue* answer = pageString(jsc_value_get_context(done), text);
  finishDone(done, jsc_value_function_call(done, G_TYPE_INT, kind, JSC_TYPE_VALUE, answer, G_TYPE_NONE));
  g_object_unref(answer);
}

// A bytes answer: done(0, header, ArrayBuffer). The buffer is the engine's
// own, filled with one copy of the bytes: no text conversion. (A buffer over
// the frame's memory would need the engine's primitive gigacage off, which
// the web process forbids.) A body that does not split is a broken answer.
void callDoneWithBytes(JSCValue* done, const std::string& body) {
  auto parts = MessageFrame::splitBytesBody(body);
  if (!parts) return callDone(done, kLost, "the shell sent a malformed answer");
  JSCContext* context = jsc_value_get_context(done);
  JSCValue* header = pageString(context, parts->header);
  JSCValue* array = jsc_value_new_typed_array(context, JSC_TYPED_ARRAY_UINT8, parts->bytes.size());
  gsize length = 0;
  if (!parts->bytes.empty()) std::memcpy(jsc_value_typed_array_get_data(array, &length), parts->bytes.data(), parts->bytes.size());
  JSCValue* buffer = jsc_value_typed_array_get_buffer(array);
  finishDone(done, jsc_value_function_call(done, G_TYPE_INT, kAnswer, JSC_TYPE_VALUE, header, JSC_TYPE_VALUE, buffer,
                                           G_TYPE_NONE));
  g_object_unref(buffer);
  g_object_unref(header);
  g_object_unref(array);
}

// The bytes of a Uint8Array (or other typed array) or an ArrayBuffer;
// empty for null and undefined; nothing for anything else.
std::optional<std::string_view> bytesOf(JSCValue* value) {
  if (!value || jsc_value_is_null(value) || jsc_value_is_undefined(value)) return std::string_view();
  if (jsc_value_is_typed_array(value)) {
    gsize length = 0;
    auto* data = static_cast<const char*>(jsc_value_typed_array_get_data(value, &length));
    return std::string_view(data, jsc_value_typed_array_get_size(value));
  }
  if (jsc_value_is_array_buffer(value)) {
    gsize size = 0;
    auto* data = static_cast<const char*>(jsc_value_array_buffer_get_data(value, &size));
    return std::string_view(data, size);
  }
  return std::nullopt;
}

}  // namespace

struct NativeCalls::PageCall {
  NativeCalls* calls;
  uint32_t page;
};

NativeCalls::NativeCalls(std::string socketPath, std::string token) : async_(socketPath, token), sync_(socketPath, token) {}

void NativeCalls::installInto(JSCContext* context, uint64_t page) {
  auto pageCall = [this, page] { return new PageCall{this, static_cast<uint32_t>(page)}; };
  auto release = [](gpointer data) { delete static_cast<PageCall*>(data); };
  JSCValue* post = jsc_value_new_function(context, "post", G_CALLBACK(NativeCalls::post), pageCall(), release,
                                          G_TYPE_BOOLEAN, 2, G_TYPE_STRING, JSC_TYPE_VALUE);
  JSCValue* postBytes = jsc_value_new_function(context, "postBytes", G_CALLBACK(NativeCalls::postBytes), pageCall(),
                                               release, G_TYPE_BOOLEAN, 3, G_TYPE_STRING, JSC_TYPE_VALUE,
                                               JSC_TYPE_VALUE);
  JSCValue* postSync = jsc_value_new_function(context, "postSync", G_CALLBACK(NativeCalls::postSync), pageCall(),
                                              release, JSC_TYPE_VALUE, 1, G_TYPE_STRING);
  JSCValue* object = jsc_value_new_object(context, nullptr, nullptr);
  jsc_value_object_set_property(object, "post", post);
  jsc_value_object_set_property(object, "postBytes", postBytes);
  jsc_value_object_set_property(object, "postSync", postSync);
  // Not enumerable and deletable: the page client takes it and removes it
  // before the page's own scripts run.
  JSCValue* global = jsc_context_get_global_object(context);
  jsc_value_object_define_property_data(global, "__taveroNative", JSC_VALUE_PROPERTY_CONFIGURABLE, object);
  g_object_unref(global);
  g_object_unref(object);
  g_object_unref(postSync);
  g_object_unref(postBytes);
  g_object_unref(post);
}

gboolean NativeCalls::post(const char* message, JSCValue* done, PageCall* call) {
  if (!message || !done || !jsc_value_is_function(done) || numberedTooHigh(call->page)) return FALSE;
  return call->calls->send(call->page, message, done);
}

gboolean NativeCalls::postBytes(const char* message, JSCValue* bytes, JSCValue* done, PageCall* call) {
  if (!message || !done || !jsc_value_is_function(done) || numberedTooHigh(call->page)) return FALSE;
  const std::string_view header(message);
  auto content = bytesOf(bytes);
  if (!content || header.empty() || header.size() > MessageFrame::kMaxBytesHeaderSize ||
      content->size() > MessageFrame::kMaxBytesSize)
    return FALSE;
  return call->calls->send(call->page | MessageFrame::kBytesFlag, MessageFrame::encodeBytesBody(header, *content),
                           done);
}

JSCValue* NativeCalls::postSync(const char* message, PageCall* call) {
  NativeCalls& calls = *call->calls;
  ShellSocket& socket = calls.sync_;
  JSCContext* context = jsc_context_get_current();
  if (!message || numberedTooHigh(call->page)) return jsc_value_new_null(context);
  const uint32_t id = calls.takeId();
  if (!socket.ensureConnected() || !socket.write(id, call->page, message)) {
    reportFailure(socket, calls.syncFailureReported_);
    return jsc_value_new_null(context);
  }
  // One call at a time on this connection: the next frame is its answer.
  auto frame = socket.read();
  if (!frame || frame->id != id) {
    socket.fail();
    reportFailure(socket, calls.syncFailureReported_);
    return pageString(context, std::to_string(kLost));
  }
  std::string answer = std::to_string(kindOf(*frame)) + frame->body;
  return pageString(context, answer);
}

// Ids go round past 2^32 calls; 0 is the hello's.
uint32_t NativeCalls::takeId() {
  if (nextId_ == 0) nextId_ = 1;
  return nextId_++;
}

bool NativeCalls::send(uint32_t tag, std::string_view body, JSCValue* done) {
  if (!async_.ensureConnected()) {
    reportFailure(async_, asyncFailureReported_);
    return false;
  }
  watchAnswers();
  const uint32_t id = takeId();
  if (!async_.write(id, tag, body)) {
    failAll();
    return false;
  }
  waiting_[id] = JSC_VALUE(g_object_ref(done));
  return true;
}

void NativeCalls::watchAnswers() {
  if (watch_ || async_.fd() < 0) return;
  watch_ = g_unix_fd_add(
      async_.fd(), static_cast<GIOCondition>(G_IO_IN | G_IO_HUP | G_IO_ERR),
      [](int, GIOCondition, gpointer self) -> gboolean {
        auto* calls = static_cast<NativeCalls*>(self);
        calls->readAnswers();
        return calls->watch_ ? G_SOURCE_CONTINUE : G_SOURCE_REMOVE;
      },
      this);
}

void NativeCalls::readAnswers() {
  std::vector<MessageFrame> frames;
  const bool open = async_.readAvailable(frames);
  for (auto& frame : frames) {
    auto found = waiting_.find(frame.id);
    if (found == waiting_.end()) continue;
    JSCValue* done = found->second;
    waiting_.erase(found);
    if (frame.tag == MessageFrame::kBytesAnswerTag)
      callDoneWithBytes(done, frame.body);
    else
      callDone(done, kindOf(frame), frame.body);
  }
  if (!open) failAll();
}

// The connection is gone: the calls under way get no answer (the shell may
// have carried them out), and later ones take the page's other road.
void NativeCalls::failAll() {
  if (watch_) g_source_remove(std::exchange(watch_, 0));
  async_.fail();
  reportFailure(async_, asyncFailureReported_);
  auto waiting = std::move(waiting_);
  waiting_.clear();
  for (auto& [id, done] : waiting) callDone(done, kLost, "the connection to the shell was lost");
}

}  // namespace tavero::webextension
