/* The page call baseline: a bare WebKitGTK window whose page sends
 * messages on a script message channel that answers each one at once with
 * a constant, one message after the other, in runs of 200 (or the number
 * given: the page's clock is coarse, longer runs time finer). Prints the
 * median time per round trip over 41 runs: the floor of WebKit's channel on
 * this machine, which the shell's page calls are measured against.
 *
 *   bare_channel [MESSAGES_PER_RUN] */
#include <stdio.h>
#include <stdlib.h>
#include <webkit2/webkit2.h>

static const char* kPage =
    "<!DOCTYPE html><html><body><script>\n"
    "(async () => {\n"
    "  const samples = [];\n"
    "  for (let run = 0; run < 41; ++run) {\n"
    "    const start = performance.now();\n"
    "    for (let i = 0; i < %d; ++i) await window.webkit.messageHandlers.echo.postMessage('ping');\n"
    "    samples.push((performance.now() - start) / %d);\n"
    "  }\n"
    "  samples.sort((a, b) => a - b);\n"
    "  window.webkit.messageHandlers.echo.postMessage('median ' + samples[20]);\n"
    "})();\n"
    "</script></body></html>\n";

static gboolean message_received(WebKitUserContentManager* manager, JSCValue* value, WebKitScriptMessageReply* reply,
                                 gpointer data) {
  (void)manager;
  char* text = jsc_value_to_string(value);
  if (g_str_has_prefix(text, "median ")) {
    double median = g_ascii_strtod(text + 7, NULL);
    printf("bare WebKit channel round trip, median of runs of %d messages: %.4f ms\n", *(int*)data, median);
    printf("BENCH bare_channel_round_trip %.4g ms - - -\n", median); /* the floor of page_call_channel_sync */
    fflush(stdout);
    gtk_main_quit();
  }
  g_free(text);
  JSCValue* answer = jsc_value_new_string(jsc_value_get_context(value), "pong");
  webkit_script_message_reply_return_value(reply, answer);
  g_object_unref(answer);
  return TRUE;
}

int main(int argc, char** argv) {
  gtk_init(&argc, &argv);
  static int perRun = 200;
  if (argc > 1) perRun = atoi(argv[1]);
  if (perRun <= 0) return fprintf(stderr, "usage: bare_channel [MESSAGES_PER_RUN]\n"), 2;
  WebKitUserContentManager* manager = webkit_user_content_manager_new();
  g_signal_connect(manager, "script-message-with-reply-received::echo", G_CALLBACK(message_received), &perRun);
  webkit_user_content_manager_register_script_message_handler_with_reply(manager, "echo", NULL);
  GtkWidget* window = gtk_window_new(GTK_WINDOW_TOPLEVEL);
  gtk_window_set_default_size(GTK_WINDOW(window), 1024, 768);
  GtkWidget* view = webkit_web_view_new_with_user_content_manager(manager);
  gtk_container_add(GTK_CONTAINER(window), view);
  gtk_widget_show_all(window);
  char* page = g_strdup_printf(kPage, perRun, perRun);
  webkit_web_view_load_html(WEBKIT_WEB_VIEW(view), page, "file:///bare/");
  g_free(page);
  gtk_main();
  return 0;
}
