#include "app/AppStreamMetainfo.h"

namespace tavero::app {

std::string xmlEscaped(std::string_view text) {
  std::string out;
  for (char c : text) {
    switch (c) {
      case '&': out += "&amp;"; break;
      case '<': out += "&lt;"; break;
      case '>': out += "&gt;"; break;
      case '"': out += "&quot;"; break;
      case '\'': out += "&apos;"; break;
      default:
        if (static_cast<unsigned char>(c) < 0x20 || c == 0x7f)
          out += ' ';
        else
          out += c;
    }
  }
  return out;
}

std::string appStreamMetainfo(const MetainfoFields& fields) {
  std::string xml = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n";
  xml += "<component type=\"desktop-application\">\n";
  xml += "  <id>" + xmlEscaped(fields.identifier) + "</id>\n";
  xml += "  <metadata_license>FSFAP</metadata_license>\n";
  if (!fields.projectLicense.empty())
    xml += "  <project_license>" + xmlEscaped(fields.projectLicense) + "</project_license>\n";
  xml += "  <name>" + xmlEscaped(fields.name) + "</name>\n";
  xml += "  <summary>" + xmlEscaped(fields.summary) + "</summary>\n";
  xml += "  <developer_name>" + xmlEscaped(fields.developerName) + "</developer_name>\n";
  xml += "  <description>\n";
  for (const auto& paragraph : fields.descriptionParagraphs) xml += "    <p>" + xmlEscaped(paragraph) + "</p>\n";
  xml += "  </description>\n";
  xml += "  <launchable type=\"desktop-id\">" + xmlEscaped(fields.identifier) + ".desktop</launchable>\n";
  if (!fields.urlSchemes.empty()) {
    xml += "  <provides>\n";
    for (const auto& scheme : fields.urlSchemes)
      xml += "    <mediatype>x-scheme-handler/" + xmlEscaped(scheme) + "</mediatype>\n";
    xml += "  </provides>\n";
  }
  xml += "  <releases>\n";
  xml += "    <release version=\"" + xmlEscaped(fields.version) + "\" date=\"" + xmlEscaped(fields.releaseDate) + "\"/>\n";
  xml += "  </releases>\n";
  xml += "  <content_rating type=\"oars-1.1\"/>\n";
  xml += "</component>\n";
  return xml;
}

}  // namespace tavero::app
