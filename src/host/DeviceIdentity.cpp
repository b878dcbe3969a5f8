#include "host/DeviceIdentity.h"

#include <openssl/evp.h>

#include "json/Hex.h"
#include "log/Log.h"

namespace tavero::host {
namespace {

}  // namespace

std::optional<std::string> stringFromMD5(std::string_view text) {
  text = text.substr(0, text.find('\0'));
  if (text.empty()) return std::nullopt;
  unsigned char digest[EVP_MAX_MD_SIZE];
  unsigned int length = 0;
  if (EVP_Digest(text.data(), text.size(), digest, &length, EVP_md5(), nullptr) != 1) {
    log::warning("MD5 is not available from the crypto library");
    return std::nullopt;
  }
  return json::hexText({digest, length});
}

std::optional<std::string> macAddressText(const platform::DeviceInfo& device) {
  if (!device.macAddress) return std::nullopt;
  std::string text;
  for (uint8_t byte : *device.macAddress) {
    if (!text.empty()) text += ':';
    json::appendHex(text, byte, json::HexCase::upper);
  }
  return text;
}

std::optional<std::string> uniqueGlobalDeviceIdentifier(const platform::DeviceInfo& device) {
  auto address = macAddressText(device);
  if (!address) return std::nullopt;
  return stringFromMD5(*address);
}

}  // namespace tavero::host
