// Keys for encrypted database connections, derived once.
//
// SQLCipher turns a passphrase into the file's key with PBKDF2-HMAC-SHA1
// (64,000 iterations over the salt in the file's first 16 bytes): tens of
// milliseconds for every connection keyed with the passphrase. Every
// transaction opens a connection of its own, so the derived key is kept
// and later connections are keyed with it directly (SQLCipher's raw key
// form, x'<64 hex digits>'), which costs a fraction of a millisecond and
// gives the very same encryption.
//
// Thread rules: any thread.
#pragma once

#include <filesystem>
#include <map>
#include <mutex>
#include <string>
#include <tuple>

namespace tavero::modules::sql {

class DerivedKeyCache {
 public:
  static constexpr int kIterations = 64000;  // SQLCipher 3's default
  static constexpr size_t kSaltBytes = 16;
  static constexpr size_t kKeyBytes = 32;

  // What to give sqlite3_key for `file` and `passphrase`: the raw derived
  // key once the file holds its salt, the passphrase itself before (a new,
  // empty file gets its salt from SQLCipher on the first write). Empty for
  // an empty passphrase.
  std::string keyFor(const std::filesystem::path& file, const std::string& passphrase);

  // The raw key text "x'<hex>'" for a passphrase and salt.
  static std::string rawKey(const std::string& passphrase, const std::string& salt);

 private:
  std::mutex mutex_;  // guards keys_
  std::map<std::tuple<std::string, std::string, std::string>, std::string> keys_;  // (file, salt, passphrase)
};

}  // namespace tavero::modules::sql
