// The web process's end of the page calls that skip the UI process: the
// function bundle documents get (window.__taveroNative, taken and hidden by
// the page client at once), and the two connections to the shell behind it.
//
//   __taveroNative.post(message, done)   sends the page channel's message
//       text; returns false when it could not be sent (use another road).
//       done(kind, text) runs once: kind 0 the answer's text, 1 the shell
//       rejected the message (text says why), 2 the connection was lost
//       with the call under way.
//   __taveroNative.postBytes(message, bytes, done)   a bytes call: the
//       message of one call, and a Uint8Array or ArrayBuffer of content
//       (or null) that travels beside it as raw bytes (at most
//       MessageFrame::kMaxBytesSize). Returns false as post does, and when
//       the bytes are too many. done(kind, text, buffer): kind 0 with the
//       answer's JSON text and an ArrayBuffer of its bytes (the engine's
//       own, holding one copy), else as post's.
//   __taveroNative.postSync(message)     the same, waiting for the answer:
//       the kind (one digit, as above) followed by the text, or null when
//       the call could not be sent (use another road).
//
// One object per web process; the web process's main thread only.
#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <string_view>

#include <glib.h>

#include "webextension/ShellSocket.h"

typedef struct _JSCContext JSCContext;
typedef struct _JSCValue JSCValue;

namespace tavero::webextension {

class NativeCalls {
 public:
  NativeCalls(std::string socketPath, std::string token);

  // Gives `context`'s global object the function, for page `page`.
  void installInto(JSCContext* context, uint64_t page);

 private:
  struct PageCall;
  static gboolean post(const char* message, JSCValue* done, PageCall* call);
  static gboolean postBytes(const char* message, JSCValue* bytes, JSCValue* done, PageCall* call);
  static JSCValue* postSync(const char* message, PageCall* call);

  uint32_t takeId();
  // Sends a frame with `body` under `tag`; false when it could not go.
  bool send(uint32_t tag, std::string_view body, JSCValue* done);
  void watchAnswers();
  void readAnswers();
  void failAll();

  ShellSocket async_;
  ShellSocket sync_;
  uint32_t nextId_ = 1;
  std::map<uint32_t, JSCValue*> waiting_;  // id -> done, referenced
  unsigned watch_ = 0;
  bool asyncFailureReported_ = false;
  bool syncFailureReported_ = false;
};

}  // namespace tavero::webextension
