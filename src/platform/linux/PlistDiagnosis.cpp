#include "platform/linux/PlistDiagnosis.h"

#include <glib.h>

#include <array>
#include <optional>
#include <vector>

namespace tavero::platform {
namespace {

constexpr std::string_view kBinaryMagic = "bplist00";
constexpr size_t kBinaryTrailerSize = 32;

// Reads an unsigned big-endian number of `size` bytes at `at`.
uint64_t bigEndian(std::string_view data, size_t at, size_t size) {
  uint64_t value = 0;
  for (size_t i = 0; i < size; ++i) value = (value << 8) | static_cast<unsigned char>(data[at + i]);
  return value;
}

std::string binaryProblem(std::string_view data) {
  std::string size = std::to_string(data.size()) + " bytes";
  if (data.size() < kBinaryMagic.size() + kBinaryTrailerSize) {
    return "a binary property list too short to hold its trailer (" + size + "); the file is truncated";
  }
  size_t trailer = data.size() - kBinaryTrailerSize;
  auto offsetSize = static_cast<unsigned char>(data[trailer + 6]);
  auto referenceSize = static_cast<unsigned char>(data[trailer + 7]);
  uint64_t objects = bigEndian(data, trailer + 8, 8);
  uint64_t offsetTable = bigEndian(data, trailer + 24, 8);
  if (offsetSize < 1 || offsetSize > 8 || referenceSize < 1 || referenceSize > 8) {
    return "a binary property list whose trailer is damaged (" + size + "); the file is truncated or damaged";
  }
  if (offsetTable >= trailer || objects == 0 || objects > (trailer - offsetTable) / offsetSize) {
    return "a binary property list whose offset table lies outside the file (" + size +
           "); the file is truncated or damaged";
  }
  return "a binary property list that libplist cannot read (" + size + "); the file is damaged";
}

// Checks, while GLib's parser reads the XML, what a property list requires
// of its elements.
class XmlPlistChecker {
 public:
  static constexpr std::array kValueElements = {"dict", "array", "string", "integer", "real", "true",
                                                "false", "date", "data", "uid"};

  std::optional<std::string> problem;  // the first one found

  void start(const char* name) {
    std::string element = name;
    if (!problem) problem = elementProblem(element);
    if (!stack_.empty() && stack_.back().name == "dict") ++stack_.back().children;
    stack_.push_back({element, 0});
  }
  void end() {
    if (!stack_.empty()) stack_.pop_back();
  }

 private:
  struct Open {
    std::string name;
    size_t children;
  };

  static bool isValue(const std::string& name) {
    for (const char* value : kValueElements)
      if (name == value) return true;
    return false;
  }

  std::optional<std::string> elementProblem(const std::string& element) const {
    if (stack_.empty()) {
      if (element == "plist" || isValue(element)) return std::nullopt;
      return "the document is <" + element + ">, not a <plist>";
    }
    const Open& parent = stack_.back();
    bool container = parent.name == "dict" || parent.name == "array" || parent.name == "plist";
    if (!container) return "<" + element + "> inside <" + parent.name + ">, which holds text only";
    if (element != "key" && element != "plist" && !isValue(element)) {
      return "<" + element + "> is not a property list element";
    }
    if (parent.name == "dict") {
      bool keyExpected = parent.children % 2 == 0;
      if (keyExpected && element != "key") return "<" + element + "> where <dict> expects a <key>";
      if (!keyExpected && element == "key") return "<key> where <dict> expects the previous key's value";
      return std::nullopt;
    }
    if (element == "key") return "<key> outside a <dict>";
    return std::nullopt;
  }

  std::vector<Open> stack_;
};

void startElement(GMarkupParseContext* context, const gchar* name, const gchar**, const gchar**, gpointer data,
                  GError** error) {
  auto* checker = static_cast<XmlPlistChecker*>(data);
  checker->start(name);
  if (checker->problem) {
    int line = 0, character = 0;
    g_markup_parse_context_get_position(context, &line, &character);
    g_set_error(error, G_MARKUP_ERROR, G_MARKUP_ERROR_INVALID_CONTENT, "Error on line %d char %d: %s", line,
                character, checker->problem->c_str());
  }
}

void endElement(GMarkupParseContext*, const gchar*, gpointer data, GError**) {
  static_cast<XmlPlistChecker*>(data)->end();
}

std::string xmlProblem(std::string_view data) {
  XmlPlistChecker checker;
  GMarkupParser parser{};
  parser.start_element = startElement;
  parser.end_element = endElement;
  GMarkupParseContext* context = g_markup_parse_context_new(&parser, GMarkupParseFlags(0), &checker, nullptr);
  GError* error = nullptr;
  bool parsed = g_markup_parse_context_parse(context, data.data(), static_cast<gssize>(data.size()), &error) &&
                g_markup_parse_context_end_parse(context, &error);
  std::string problem = parsed ? std::string() : std::string(error ? error->message : "unreadable XML");
  if (error) g_error_free(error);
  g_markup_parse_context_free(context);
  if (problem.empty()) return "XML that libplist cannot read as a property list, for no reason it gives";
  // GLib says "Error on line 3 char 9: ..."; say it the way the rest of the log does.
  if (problem.starts_with("Error on line ")) {
    problem = "line " + problem.substr(14);
    if (auto at = problem.find(" char "); at != std::string::npos) problem.replace(at, 6, ", character ");
  }
  return problem;
}

}  // namespace

std::string plistProblem(std::string_view data) {
  if (data.empty()) return "the file is empty";
  if (data.starts_with(kBinaryMagic)) return binaryProblem(data);
  if (data.starts_with("bplist")) return "a binary property list of a version libplist does not read";
  return xmlProblem(data);
}

}  // namespace tavero::platform
