#include "app/DebianDocFiles.h"

#include <zlib.h>

#include <cstdio>

namespace tavero::app {

namespace {

std::string oneLine(std::string text) {
  for (char& c : text)
    if (static_cast<unsigned char>(c) < 0x20 || c == 0x7f) c = ' ';
  return text;
}

std::tm utc(std::time_t date) {
  std::tm parts{};
  gmtime_r(&date, &parts);
  return parts;
}

}  // namespace

std::string rfc2822Date(std::time_t date) {
  static constexpr const char* kDays[] = {"Sun", "Mon", "Tue", "Wed", "Thu", "Fri", "Sat"};
  static constexpr const char* kMonths[] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                            "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};
  std::tm parts = utc(date);
  char text[64];
  std::snprintf(text, sizeof text, "%s, %02d %s %04d %02d:%02d:%02d +0000", kDays[parts.tm_wday], parts.tm_mday,
                kMonths[parts.tm_mon], parts.tm_year + 1900, parts.tm_hour, parts.tm_min, parts.tm_sec);
  return text;
}

std::string isoDay(std::time_t date) {
  std::tm parts = utc(date);
  char text[32];
  std::snprintf(text, sizeof text, "%04d-%02d-%02d", parts.tm_year + 1900, parts.tm_mon + 1, parts.tm_mday);
  return text;
}

std::string debianCopyrightText(const DocFields& fields) {
  std::string text = "Format: https://www.debian.org/doc/packaging-manuals/copyright-format/1.0/\n";
  text += "Upstream-Name: " + fields.bundleIdentifier + "\n";
  text += "Upstream-Contact: " + fields.maintainer + "\n\n";
  text += "Files: *\n";
  // Without a notice in the bundle, the maintainer who packages the app is taken to hold it.
  std::string holder = fields.copyright.empty() ? isoDay(fields.date).substr(0, 4) + " " + fields.maintainer
                                                : oneLine(fields.copyright);
  text += "Copyright: " + holder + "\n";
  text += "License: " + (fields.license.empty() ? std::string("UNKNOWN") : oneLine(fields.license)) + "\n";
  text += fields.license.empty() ? " The bundle states no licence (TaveroPackageLicense in its Info.plist).\n"
                                 : " See the licence's text, as named above.\n";
  return text;
}

std::string debianChangelogText(const DocFields& fields) {
  return fields.package + " (" + fields.version + ") unstable; urgency=medium\n\n" +
         "  * Version " + fields.version + " of the web application " + fields.bundleIdentifier + ".\n\n" +
         " -- " + fields.maintainer + "  " + rfc2822Date(fields.date) + "\n";
}

std::optional<std::string> gzipped(const std::string& text) {
  z_stream stream{};
  // 15 + 16: a gzip header and trailer; zlib writes no name and time 0.
  if (deflateInit2(&stream, Z_BEST_COMPRESSION, Z_DEFLATED, 15 + 16, 9, Z_DEFAULT_STRATEGY) != Z_OK) return std::nullopt;
  std::string out(deflateBound(&stream, text.size()), '\0');
  stream.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(text.data()));
  stream.avail_in = static_cast<uInt>(text.size());
  stream.next_out = reinterpret_cast<Bytef*>(out.data());
  stream.avail_out = static_cast<uInt>(out.size());
  int result = deflate(&stream, Z_FINISH);
  out.resize(stream.total_out);
  deflateEnd(&stream);
  if (result != Z_STREAM_END) return std::nullopt;
  return out;
}

}  // namespace tavero::app
