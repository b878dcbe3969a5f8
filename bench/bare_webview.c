/* The launch baseline: a bare WebKitGTK window that loads one page and
 * prints "loaded" when the load has finished, then quits (with --stay it
 * keeps running until it is stopped). What Tavero adds to a launch and to
 * memory is measured against this.
 *
 *   bare_webview file:///path/to/index.html [--stay] */
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <webkit2/webkit2.h>

static void load_changed(WebKitWebView* view, WebKitLoadEvent event, gpointer stay) {
  (void)view;
  if (event != WEBKIT_LOAD_FINISHED) return;
  printf("loaded\n");
  fflush(stdout);
  if (!GPOINTER_TO_INT(stay)) gtk_main_quit();
}

int main(int argc, char** argv) {
  if (argc < 2) {
    fprintf(stderr, "usage: bare_webview URL [--stay]\n");
    return 2;
  }
  gtk_init(&argc, &argv);
  GtkWidget* window = gtk_window_new(GTK_WINDOW_TOPLEVEL);
  gtk_window_set_default_size(GTK_WINDOW(window), 1024, 768);
  GtkWidget* view = webkit_web_view_new();
  gboolean stay = argc > 2 && strcmp(argv[2], "--stay") == 0;
  g_signal_connect(view, "load-changed", G_CALLBACK(load_changed), GINT_TO_POINTER(stay));
  gtk_container_add(GTK_CONTAINER(window), view);
  gtk_widget_show_all(window);
  webkit_web_view_load_uri(WEBKIT_WEB_VIEW(view), argv[1]);
  gtk_main();
  return 0;
}
