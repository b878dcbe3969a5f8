#include "platform/sim/MediaProfile.h"

#include <algorithm>
#include <system_error>
#include <vector>

#include "base/FileRead.h"
#include "json/JsonCodec.h"
#include "log/Log.h"

namespace tavero::platform {
namespace {

namespace fs = std::filesystem;
using Error = std::optional<std::string>;

Error readText(const json::Object& section, std::string_view section_name, std::string_view key, std::string& target) {
  const json::Value* value = section.find(key);
  if (!value) return std::nullopt;
  if (!value->isString()) {
    std::string name = section_name.empty() ? std::string(key) : std::string(section_name) + "." + std::string(key);
    return "\"" + name + "\" must be a string";
  }
  target = value->asString();
  return std::nullopt;
}

Error readPath(const json::Object& section, std::string_view sectionName, std::string_view key,
               const fs::path& folder, std::optional<fs::path>& target) {
  std::string text;
  if (auto error = readText(section, sectionName, key, text)) return error;
  if (!section.contains(key)) return std::nullopt;
  if (text.empty()) return "\"" + std::string(sectionName) + "." + std::string(key) + "\" must not be empty";
  fs::path path(text);
  target = path.is_absolute() ? path : folder / path;
  return std::nullopt;
}

// A decimal number text: digits, optionally "." and digits.
bool isPriceText(std::string_view text) {
  size_t dot = text.find('.');
  auto digits = [](std::string_view part) {
    return !part.empty() && std::all_of(part.begin(), part.end(), [](char c) { return c >= '0' && c <= '9'; });
  };
  if (dot == std::string_view::npos) return digits(text);
  return digits(text.substr(0, dot)) && digits(text.substr(dot + 1));
}

Error readProduct(const json::Value& item, size_t index, StoreProduct& product) {
  std::string where = "\"store.products\"[" + std::to_string(index) + "]";
  const json::Object* fields = item.ifObject();
  if (!fields) return where + " must be an object";
  const json::Value* identifier = fields->find("identifier");
  if (!identifier || !identifier->isString() || identifier->asString().empty())
    return where + " needs an \"identifier\" text";
  product.identifier = identifier->asString();
  for (auto [key, target] : {std::pair<std::string_view, std::string*>{"title", &product.localizedTitle},
                             {"description", &product.localizedDescription},
                             {"priceLocale", &product.priceLocale}}) {
    const json::Value* value = fields->find(key);
    if (!value) continue;
    if (!value->isString()) return where + "." + std::string(key) + " must be a string";
    *target = value->asString();
  }
  if (const json::Value* price = fields->find("price")) {
    std::string text = price->isString() ? price->asString()
                       : price->isNumber() ? json::JsonCodec::jsonStringForValue(*price)
                                           : std::string("?");
    if (!isPriceText(text)) return where + ".price must be a decimal number like \"0.99\"";
    product.price = text;
  }
  if (product.priceLocale.empty()) product.priceLocale = "en_US";
  return std::nullopt;
}

Error readStore(const json::Object& section, StoreSettings& store) {
  if (const json::Value* allowed = section.find("canMakePayments")) {
    if (!allowed->isBool()) return std::string("\"store.canMakePayments\" must be true or false");
    store.canMakePayments = allowed->asBool();
  }
  std::string policy;
  if (auto error = readText(section, "store", "policy", policy)) return error;
  if (section.contains("policy")) {
    auto named = storePolicyNamed(policy);
    if (!named) return "\"store.policy\" must be \"approve\", \"fail\", \"cancel\" or \"manual\", not \"" + policy + "\"";
    store.policy = *named;
  }
  if (auto error = readText(section, "store", "failureMessage", store.failureMessage)) return error;
  std::string requestFailure;
  if (auto error = readText(section, "store", "productRequestFailure", requestFailure)) return error;
  if (section.contains("productRequestFailure")) store.productRequestFailure = requestFailure;
  if (const json::Value* products = section.find("products")) {
    if (!products->isArray()) return std::string("\"store.products\" must be an array");
    for (size_t i = 0; i < products->asArray().size(); ++i) {
      StoreProduct product;
      if (auto error = readProduct(products->asArray()[i], i, product)) return error;
      store.catalog.push_back(std::move(product));
    }
  }
  return std::nullopt;
}

Error readCamera(const json::Object& camera, const fs::path& profileFolder, MediaProfile& media) {
  if (auto error = readPath(camera, "camera", "picture", profileFolder, media.cameraPicture)) return error;
  std::string source;
  if (auto error = readText(camera, "camera", "source", source)) return error;
  if (camera.contains("source")) {
    if (source != "simulated" && source != "system")
      return "\"camera.source\" must be \"simulated\" or \"system\", not \"" + source + "\"";
    media.systemCamera = source == "system";
  }
  std::string device;
  if (auto error = readText(camera, "camera", "device", device)) return error;
  if (camera.contains("device")) {
    auto parsed = parseCameraDevice(device);
    if (auto* accepted = std::get_if<std::string>(&parsed))
      return "\"camera.device\" must be " + *accepted + ", not \"" + device + "\"";
    media.cameraDevice = std::get<CameraDevice>(std::move(parsed));
  }
  return std::nullopt;
}

const json::Object* section(const json::Object& profile, std::string_view key, Error& error) {
  const json::Value* value = profile.find(key);
  if (!value) return nullptr;
  if (!value->isObject()) error = "\"" + std::string(key) + "\" must be an object";
  return value->ifObject();
}

// A path-valued key whose path is missing, or of the other kind: said at
// launch, since the page would otherwise only fail when it uses it.
void checkPath(const std::optional<fs::path>& path, std::string_view key, bool wantFolder,
               std::vector<std::string>& warnings) {
  if (!path) return;
  std::error_code ec;
  fs::file_status status = fs::status(*path, ec);
  std::string named = "\"" + std::string(key) + "\" names \"" + path->string() + "\", ";
  if (!fs::exists(status))
    warnings.push_back(named + "which does not exist");
  else if (wantFolder && !fs::is_directory(status))
    warnings.push_back(named + "which is not a folder");
  else if (!wantFolder && fs::is_directory(status))
    warnings.push_back(named + "which is a folder, not a picture file");
}

}  // namespace

std::optional<ContactsSource> contactsSourceNamed(std::string_view name) {
  if (name == "folder") return ContactsSource::folder;
  if (name == "system") return ContactsSource::system;
  return std::nullopt;
}

std::vector<std::string> mediaProfileWarnings(const MediaProfile& media) {
  std::vector<std::string> warnings;
  checkPath(media.cameraPicture, "camera.picture", false, warnings);
  checkPath(media.contactsFolder, "contacts.folder", true, warnings);
  if (media.cameraDevice && media.cameraDevice->kind == CameraDevice::Kind::deviceFile) {
    std::error_code ec;
    if (!fs::exists(media.cameraDevice->name, ec))
      warnings.push_back("\"camera.device\" names \"" + media.cameraDevice->name + "\", which does not exist");
  }
  return warnings;
}

std::variant<MediaProfile, std::string> readMediaProfile(const json::Object& profile, const fs::path& profileFolder) {
  MediaProfile media;
  Error error;
  std::string idiom;
  if ((error = readText(profile, "", "idiom", idiom))) return *error;
  if (profile.contains("idiom")) {
    if (idiom != "phone" && idiom != "tablet") return "\"idiom\" must be \"phone\" or \"tablet\", not \"" + idiom + "\"";
    media.tablet = idiom == "tablet";
  }
  if (const json::Object* camera = section(profile, "camera", error)) {
    if ((error = readCamera(*camera, profileFolder, media))) return *error;
  }
  if (error) return *error;
  if (const json::Object* contacts = section(profile, "contacts", error)) {
    if ((error = readPath(*contacts, "contacts", "folder", profileFolder, media.contactsFolder))) return *error;
    std::string source;
    if ((error = readText(*contacts, "contacts", "source", source))) return *error;
    if (contacts->contains("source")) {
      auto named = contactsSourceNamed(source);
      if (!named) return "\"contacts.source\" must be \"folder\" or \"system\", not \"" + source + "\"";
      media.contactsSource = *named;
    }
    std::string access;
    if ((error = readText(*contacts, "contacts", "access", access))) return *error;
    if (contacts->contains("access")) {
      if (access != "granted" && access != "denied")
        return "\"contacts.access\" must be \"granted\" or \"denied\", not \"" + access + "\"";
      media.contactsAccess = access == "granted" ? AddressBookAccess::granted : AddressBookAccess::denied;
    }
  }
  if (error) return *error;
  if (const json::Object* store = section(profile, "store", error)) {
    if ((error = readStore(*store, media.store))) return *error;
  }
  if (error) return *error;
  return media;
}

std::variant<MediaProfile, std::string> loadMediaProfile(const fs::path& profileFile) {
  std::string where = "device profile " + profileFile.string() + ": ";
  auto content = base::readWholeFile(profileFile);
  if (content.error) return where + *content.error;
  if (!content.text) return where + "cannot be read (no such file)";
  auto profile = json::JsonCodec::dictionaryWithJSONString(*content.text);
  if (!profile) return where + "not a readable JSON object";
  std::error_code ec;
  fs::path folder = fs::absolute(profileFile, ec).parent_path();
  auto media = readMediaProfile(*profile, folder);
  if (auto* error = std::get_if<std::string>(&media)) {
    *error = where + *error;
    return media;
  }
  for (const auto& warning : mediaProfileWarnings(std::get<MediaProfile>(media))) log::warning(where + warning);
  return media;
}

}  // namespace tavero::platform
