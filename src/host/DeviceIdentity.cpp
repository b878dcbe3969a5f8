#include "host/DeviceIdentity.h"

#include <openssl/evp.h>

#include "log/Log.h"

namespace tavero::host {
namespace {

void appendHex(std::string& out, unsigned char byte, const char* digits) {
  out += digits[byte >> 4];
  out += digits[byte & 0x0f];
}

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
  std::string hex;
  hex.reserve(2 * length);
  for (unsigned int i = 0; i < length; ++i) appendHex(hex, digest[i], "0123456789abcdef");
  return hex;
}

std::optional<std::string> macAddressText(const platform::DeviceInfo& device) {
  if (!device.macAddress) return std::nullopt;
  std::string text;
  for (uint8_t byte : *device.macAddress) {
    if (!text.empty()) text += ':';
    appendHex(text, byte, "0123456789ABCDEF");
  }
  return text;
}

std::optional<std::string> uniqueGlobalDeviceIdentifier(const platform::DeviceInfo& device) {
  auto address = macAddressText(device);
  if (!address) return std::nullopt;
  return stringFromMD5(*address);
}

}  // namespace tavero::host
