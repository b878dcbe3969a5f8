// Reading 500 people: from a private Evolution Data Server on a private
// session bus (EdsAddressBook, what `--contacts system` reads) against the
// vCard folder holding the same cards, one file each (VCardAddressBook, the
// baseline). Reads alternate between the two; medians of the runs. The first
// access to EDS, on a bus where its services do not run yet (starting them,
// opening the book), is timed on its own.
//
//   contacts_read [RUNS] [PEOPLE]
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <string>
#include <variant>
#include <vector>

#include "BenchLine.h"
#include "platform/linux/EdsAddressBook.h"
#include "platform/linux/GdkPixbufImageProcessor.h"
#include "platform/linux/VCardAddressBook.h"
#include "support/PrivateEds.h"

namespace {

namespace fs = std::filesystem;
using namespace tavero;
using Clock = std::chrono::steady_clock;

std::string card(int i) {
  std::string n = std::to_string(i);
  return "BEGIN:VCARD\r\nVERSION:3.0\r\nN:Person" + n + ";Given" + n + ";;;\r\nFN:Given" + n + " Person" + n +
         "\r\nTEL;TYPE=CELL:+44 7700 900" + n + "\r\nTEL;TYPE=WORK:+44 20 7946 0" + n +
         "\r\nEMAIL;TYPE=HOME:person" + n + "@example.org\r\nADR;TYPE=HOME:;;" + n +
         " High Street;London;;N1 9GU;United Kingdom\r\nORG:Example Ltd;Research\r\nBDAY:1980-04-12\r\n"
         "NOTE:A note about person " + n + "\r\nEND:VCARD\r\n";
}

double milliseconds(const std::function<size_t()>& read, size_t expected) {
  auto start = Clock::now();
  size_t got = read();
  double ms = std::chrono::duration<double, std::milli>(Clock::now() - start).count();
  if (got != expected) {
    std::fprintf(stderr, "contacts_read: read %zu people, not %zu\n", got, expected);
    std::exit(1);
  }
  return ms;
}

double median(std::vector<double> values) {
  std::sort(values.begin(), values.end());
  return values[values.size() / 2];
}

}  // namespace

int main(int argc, char** argv) {
  const int runs = argc > 1 ? std::atoi(argv[1]) : 15;
  const int people = argc > 2 ? std::atoi(argv[2]) : 500;
  testing::PrivateEds eds;
  if (!eds.failure().empty()) {
    std::fprintf(stderr, "contacts_read: %s\n", eds.failure().c_str());
    return 1;
  }
  std::vector<std::string> cards;
  fs::path folder = eds.folder() / "vcards";
  fs::create_directories(folder);
  for (int i = 0; i < people; ++i) {
    cards.push_back(card(i));
    std::ofstream(folder / ("person" + std::to_string(i) + ".vcf")) << cards.back();
  }
  platform::GdkPixbufImageProcessor processor;
  platform::VCardAddressBook folderBook(folder, platform::AddressBookAccess::granted, processor);
  platform::EdsAddressBook edsBook({.timeout = std::chrono::seconds(60)}, processor);
  auto start = Clock::now();
  bool granted = false;
  edsBook.requestAccess([&](bool answer) { granted = answer; });
  double firstAccess = std::chrono::duration<double, std::milli>(Clock::now() - start).count();
  if (!granted) return 1;

  auto added = eds.addContacts(cards, std::chrono::seconds(120));
  if (auto* why = std::get_if<std::string>(&added)) {
    std::fprintf(stderr, "contacts_read: %s\n", why->c_str());
    return 1;
  }

  std::vector<double> fromEds, fromFolder;
  for (int run = 0; run < runs; ++run) {
    fromEds.push_back(milliseconds([&] { return edsBook.people().size(); }, people));
    fromFolder.push_back(milliseconds([&] { return folderBook.people().size(); }, people));
  }
  std::printf("%d people, %d runs each (medians)\n", people, runs);
  std::printf("  first access to EDS (its services started on the bus, the book opened): %.1f ms\n", firstAccess);
  std::printf("  EDS (EdsAddressBook::people):        %.1f ms\n", median(fromEds));
  std::printf("  vCard folder (VCardAddressBook, baseline): %.1f ms\n", median(fromFolder));
  std::printf("  EDS / folder: %.2f\n", median(fromEds) / median(fromFolder));
  bench::printBenchLine("contacts_eds_500", median(fromEds), "ms", "contacts_folder_500", median(fromFolder));
  return 0;
}
