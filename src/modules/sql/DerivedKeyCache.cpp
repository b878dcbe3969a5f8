#include "modules/sql/DerivedKeyCache.h"

#include <openssl/crypto.h>
#include <openssl/evp.h>

#include <cstring>
#include <fstream>

#include "json/Hex.h"
#include "log/Log.h"

namespace tavero::modules::sql {
std::string DerivedKeyCache::saltOf(const std::filesystem::path& file) {
  std::ifstream in(file, std::ios::binary);
  std::string salt(kSaltBytes, '\0');
  if (!in.read(salt.data(), static_cast<std::streamsize>(salt.size()))) return {};
  if (std::memcmp(salt.data(), "SQLite format 3", 16) == 0) return {};
  return salt;
}

std::optional<std::string> DerivedKeyCache::rawKey(const std::string& passphrase, const std::string& salt) {
  unsigned char key[kKeyBytes];
  if (PKCS5_PBKDF2_HMAC_SHA1(passphrase.data(), static_cast<int>(passphrase.size()),
                             reinterpret_cast<const unsigned char*>(salt.data()), static_cast<int>(salt.size()),
                             kIterations, sizeof key, key) != 1) {
    // The buffer holds nothing defined: no key may come from it.
    log::error("SQL: cannot derive a database key (PBKDF2 failed)");
    return std::nullopt;
  }
  std::string text = "x'";
  for (unsigned char byte : key) json::appendHex(text, byte, json::HexCase::upper);
  text += '\'';
  OPENSSL_cleanse(key, sizeof key);
  return text;
}

std::optional<std::string> DerivedKeyCache::keyFor(const std::filesystem::path& file, const std::string& passphrase,
                                    const Checker& check) {
  if (passphrase.empty()) return std::string();
  std::string salt = saltOf(file);
  if (salt.empty()) return passphrase;
  auto id = std::make_tuple(file.string(), salt, passphrase);
  {
    std::lock_guard lock(mutex_);
    if (auto it = keys_.find(id); it != keys_.end()) return it->second;
  }
  // The slow part, outside the lock.
  std::optional<std::string> derivedKey = derive_(passphrase, salt);
  if (!derivedKey) return std::nullopt;
  std::string key = std::move(*derivedKey);
  KeyCheck derived = check(key);
  if (derived == KeyCheck::unknown) return passphrase;
  if (derived == KeyCheck::doesNotOpen) {
    // A wrong passphrase, or one SQLCipher does not derive the way above.
    if (check(passphrase) != KeyCheck::opens) return passphrase;
    key = passphrase;
  }
  std::lock_guard lock(mutex_);
  return keys_.emplace(std::move(id), std::move(key)).first->second;
}

}  // namespace tavero::modules::sql
