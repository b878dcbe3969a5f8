#include "platform/linux/GioSchemeHandlers.h"

#include <gio/gio.h>

#include <algorithm>

namespace tavero::platform {
namespace {

void addHandler(std::vector<std::string>& handlers, GAppInfo* app, const std::string& ownEntry) {
  const char* id = app ? g_app_info_get_id(app) : nullptr;
  if (!id || ownEntry == id) return;
  if (std::find(handlers.begin(), handlers.end(), id) == handlers.end()) handlers.emplace_back(id);
}

}  // namespace

std::vector<std::string> GioSchemeHandlers::handlersOf(const std::string& scheme, const std::string& ownEntry) {
  const std::string type = "x-scheme-handler/" + scheme;
  std::vector<std::string> handlers;
  if (GAppInfo* preferred = g_app_info_get_default_for_type(type.c_str(), FALSE)) {
    addHandler(handlers, preferred, ownEntry);
    g_object_unref(preferred);
  }
  GList* all = g_app_info_get_all_for_type(type.c_str());
  for (GList* item = all; item; item = item->next) addHandler(handlers, G_APP_INFO(item->data), ownEntry);
  g_list_free_full(all, g_object_unref);
  return handlers;
}

}  // namespace tavero::platform
