// The camera, contacts and purchases in the real web view, with the picker
// and the store answered through `tavero device`, as a developer would.
#include <gtk/gtk.h>

#include <fstream>

#include "e2e/EndToEndFixture.h"
#include "json/Base64.h"
#include "platform/linux/GtkImagePicker.h"
#include "platform/sim/SimulatedCamera.h"
#include "support/TestImages.h"

namespace tavero::app::e2e {
namespace {

using MediaEndToEnd = EndToEndTest;

// The open file chooser among GTK's windows, once it shows.
GtkWindow* shownFileChooser() {
  GtkWindow* found = nullptr;
  GList* toplevels = gtk_window_list_toplevels();
  for (GList* item = toplevels; item; item = item->next)
    if (GTK_IS_FILE_CHOOSER_DIALOG(item->data) && gtk_widget_get_mapped(GTK_WIDGET(item->data)))
      found = GTK_WINDOW(item->data);
  g_list_free(toplevels);
  return found;
}

// Serves GTK's loop until the chooser has the size it was given (or 5 s).
std::pair<int, int> chooserSizeOnceSettled(GtkWindow* chooser, platform::PickerDialogSize wanted) {
  int width = 0, height = 0;
  for (int turn = 0; turn < 500; ++turn) {
    while (g_main_context_iteration(nullptr, FALSE)) {
    }
    gtk_window_get_size(chooser, &width, &height);
    if (width == wanted.width && height == wanted.height) break;
    g_usleep(10000);
  }
  return {width, height};
}

TEST(PhotoLibraryPicker, FillsAPhonesWindowIsSmallerOnATabletAndStartsInPicturesOrHome) {
  setenv("GSETTINGS_BACKEND", "memory", 1);  // the file chooser keeps its settings; no session bus here
  GtkWidget* window = gtk_window_new(GTK_WINDOW_TOPLEVEL);
  gtk_window_set_default_size(GTK_WINDOW(window), 1024, 768);
  gtk_widget_show(window);
  for (bool tablet : {false, true}) {
    platform::GtkImagePicker picker(std::make_shared<const platform::SimulatedCamera>());
    platform::PickerPresentation presentation;
    presentation.popover = tablet;
    presentation.popoverSize = {100, 100};
    picker.present(platform::ImageSource::photoLibrary, presentation, [](platform::PickerOutcome) {});
    GtkWindow* chooser = nullptr;
    for (int turn = 0; turn < 500 && !(chooser = shownFileChooser()); ++turn) {
      while (g_main_context_iteration(nullptr, FALSE)) {
      }
      g_usleep(10000);
    }
    ASSERT_TRUE(chooser) << "the picker never showed";
    const auto wanted = platform::pickerDialogSize(presentation, 1024, 768);
    EXPECT_EQ(wanted, tablet ? (platform::PickerDialogSize{682, 512}) : (platform::PickerDialogSize{1024, 768}));
    EXPECT_EQ(chooserSizeOnceSettled(chooser, wanted), std::make_pair(wanted.width, wanted.height))
        << (tablet ? "tablet" : "phone");
    gchar* folder = gtk_file_chooser_get_current_folder(GTK_FILE_CHOOSER(chooser));
    EXPECT_EQ(std::string(folder ? folder : ""), platform::pickerStartFolder().string());
    g_free(folder);
    picker.cancel();
  }
  gtk_widget_destroy(window);
}

TEST(PhotoLibraryPicker, ATabletDialogKeepsWithinSmallWindowsAndToTheSizeAsked) {
  platform::PickerPresentation tablet;
  tablet.popover = true;
  EXPECT_EQ(platform::pickerDialogSize(tablet, 1920, 1200), (platform::PickerDialogSize{720, 540}));
  EXPECT_EQ(platform::pickerDialogSize(tablet, 400, 280), (platform::PickerDialogSize{360, 280}));
  tablet.popoverSize = {800, 100};
  EXPECT_EQ(platform::pickerDialogSize(tablet, 1024, 768), (platform::PickerDialogSize{800, 512}));
  tablet.popoverSize = {5000, 5000};
  EXPECT_EQ(platform::pickerDialogSize(tablet, 1024, 768), (platform::PickerDialogSize{1024, 768}));
}

// The answer of an in-process control command as text ("" when it failed).
std::string answerText(ShellApplication& shell, const std::vector<std::string>& words) {
  auto answer = shell.controlCommands().run(words);
  if (!answer.ok()) return "";
  return answer.value().isString() ? answer.value().asString() : json::JsonCodec::jsonStringForValue(answer.value());
}

TEST_F(MediaEndToEnd, APageTakesAPictureReadsContactsAndBuysAProduct) {
  setenv("GSETTINGS_BACKEND", "memory", 1);  // the file chooser keeps its settings; no session bus here
  fs::create_directories(home_ / "vcards");
  std::string photo = json::ql_base64_encode(test::twoColourImage(90, 60, "jpeg"), false);
  std::ofstream(home_ / "vcards" / "people.vcf")
      << "BEGIN:VCARD\r\nVERSION:3.0\r\nN:Lovelace;Ada;;;\r\nBDAY:1815-12-10\r\n"
         "TEL;TYPE=CELL:+44 1\r\nTEL;TYPE=CELL:+44 2\r\nTEL;TYPE=HOME:+44 3\r\n"
         "PHOTO;ENCODING=b;TYPE=JPEG:" << photo << "\r\nEND:VCARD\r\n"
      << "BEGIN:VCARD\r\nVERSION:3.0\r\nN:Babbage;Charles;;;\r\nEND:VCARD\r\n";
  fs::path picture = home_ / "picked.jpg";
  test::writeFile(picture, test::twoColourImage(400, 300, "jpeg"));

  auto shell = makeShell("media-app", [&](ShellApplication::Settings& settings) {
    settings.media.contactsFolder = home_ / "vcards";
    settings.media.store.policy = platform::StorePolicy::manual;
    settings.media.store.catalog = {{"coins", "Coins", "A bag of coins", "0.99", "de_DE"}};
  });
  ASSERT_TRUE(shell->launch());

  ASSERT_TRUE(serveUntil(*shell, [&] { return answerText(*shell, {"picker", "status"}) == "library"; }));
  CommandOutput cancelled = device(*shell, {"picker", "cancel"});
  EXPECT_EQ(cancelled.exitStatus, 0) << cancelled.err;

  ASSERT_TRUE(serveUntil(*shell, [&] { return answerText(*shell, {"picker", "status"}) == "library"; }));
  CommandOutput relative = device(*shell, {"picker", "pick", "picked.jpg"});
  EXPECT_EQ(relative.exitStatus, 1);
  EXPECT_NE(relative.err.find("absolute path"), std::string::npos) << relative.err;
  CommandOutput picked = device(*shell, {"picker", "pick", picture.string()});
  EXPECT_EQ(picked.exitStatus, 0) << picked.err;

  std::string transaction;
  ASSERT_TRUE(serveUntil(*shell, [&] {
    auto queue = shell->media().store().transactions();
    if (!queue.empty()) transaction = queue.front().transactionIdentifier;
    return !transaction.empty();
  }));
  CommandOutput list = device(*shell, {"store", "list"});
  EXPECT_NE(list.out.find("\"purchasing\""), std::string::npos) << list.out;
  CommandOutput approved = device(*shell, {"store", "approve", transaction});
  EXPECT_EQ(approved.exitStatus, 0) << approved.err;

  ASSERT_TRUE(serveUntil(*shell, [&] { return answerText(*shell, {"picker", "status"}) == "camera"; }));
  CommandOutput shot = device(*shell, {"picker", "pick"});
  EXPECT_EQ(shot.exitStatus, 0) << shot.err;

  auto verdict = waitForVerdict(*shell);
  ASSERT_TRUE(verdict);
  const json::Value* cameraFile = verdict->find("cameraFile");
  ASSERT_TRUE(cameraFile && cameraFile->isString()) << text(*verdict);
  EXPECT_EQ(fs::path(cameraFile->asString()).parent_path(), home_ / "Documents");
  auto card = test::decode(test::readFile(cameraFile->asString()));
  ASSERT_TRUE(card);
  EXPECT_EQ(card->format, "jpeg");
  EXPECT_EQ(card->width, 640);  // the simulated camera's test card
  EXPECT_EQ(card->height, 480);
  expectAllTrue(*verdict, {"cancelled", "picture", "contacts", "label", "canMakePayments", "products", "paid",
                           "completed"});
  EXPECT_TRUE(shell->media().store().transactions().empty());
  auto stored = shell->media().userDefaults().value("purchases");
  ASSERT_TRUE(stored && stored->isArray());
  EXPECT_EQ(stored->asArray().size(), 1u);

  CommandOutput help = device(*shell, {"help"});
  for (const char* line : {"picker pick", "picker cancel", "store approve", "store fail", "store cancel", "store list",
                           "contacts access"})
    EXPECT_NE(help.out.find(line), std::string::npos) << line;
  shell->terminate();
}

}  // namespace
}  // namespace tavero::app::e2e
