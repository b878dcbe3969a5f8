// Holds page loads back until the content rules are in force: a page must
// never run, even briefly, without the rules that keep it to its own files.
//
// Thread rules: main thread only.
#pragma once

#include <functional>
#include <vector>

typedef struct _WebKitUserContentFilter WebKitUserContentFilter;

namespace tavero::platform {

class ContentFilterGate {
 public:
  using Apply = std::function<void(WebKitUserContentFilter* filter)>;  // null: no rules

  ContentFilterGate() = default;
  ~ContentFilterGate();
  ContentFilterGate(const ContentFilterGate&) = delete;
  ContentFilterGate& operator=(const ContentFilterGate&) = delete;

  // Closes the gate until open() is called (the rules are being compiled).
  void close();
  // Lets everything waiting through, with `filter` (a reference is kept).
  void open(WebKitUserContentFilter* filter);
  bool isOpen() const { return open_; }

  // Runs `apply` now if the gate is open, else when it opens.
  void whenOpen(Apply apply);

 private:
  bool open_ = true;
  WebKitUserContentFilter* filter_ = nullptr;
  std::vector<Apply> waiting_;
};

}  // namespace tavero::platform
