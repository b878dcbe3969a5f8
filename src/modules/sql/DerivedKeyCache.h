// Keys for encrypted database connections, derived once.
//
// SQLCipher turns a passphrase into the file's key with PBKDF2-HMAC-SHA1
// over the salt in the file's first 16 bytes: tens of milliseconds for
// every connection keyed with the passphrase. Every transaction opens a
// connection of its own, so the derived key is kept and later connections
// are keyed with it directly (SQLCipher's raw key form, x'<64 hex digits>'),
// which costs a fraction of a millisecond and gives the very same
// encryption.
//
// Only when it does: a passphrase that SQLCipher itself takes as a raw key
// (x'...'), or a library whose key derivation has other settings, gives
// another key. So a derived key is checked against the file before it is
// kept, and where it does not open the file the passphrase itself is used
// (and kept) instead, if that opens it.
//
// Thread rules: any thread. The check runs outside the cache's lock.
#pragma once

#include <filesystem>
#include <functional>
#include <map>
#include <mutex>
#include <optional>
#include <string>
#include <tuple>

namespace tavero::modules::sql {

class DerivedKeyCache {
 public:
  static constexpr int kIterations = 64000;  // SQLCipher 3's default
  static constexpr size_t kSaltBytes = 16;
  static constexpr size_t kKeyBytes = 32;

  // What trying a key on a file showed.
  enum class KeyCheck { opens, doesNotOpen, unknown };
  using Checker = std::function<KeyCheck(const std::string& key)>;
  // Derives the raw key text for a passphrase and salt; nothing when the
  // derivation failed.
  using Derivation = std::function<std::optional<std::string>(const std::string& passphrase, const std::string& salt)>;

  // `derive` is rawKey unless a test gives another.
  explicit DerivedKeyCache(Derivation derive = &rawKey) : derive_(std::move(derive)) {}

  // What to give sqlite3_key for `file` and `passphrase`: the raw derived
  // key once the file holds its salt and `check` found it opens the file;
  // the passphrase itself before the file has a salt (SQLCipher makes one on
  // the first write), when the derived key does not open the file, or when
  // `check` cannot tell (the file is locked). Empty for an empty passphrase.
  // Nothing when the file has a salt and the key cannot be derived: then the
  // file must not be keyed at all. Only answers `check` confirmed are kept.
  std::optional<std::string> keyFor(const std::filesystem::path& file, const std::string& passphrase, const Checker& check);

  // The salt at the start of an encrypted `file`; empty while the file has
  // none yet (SQLCipher makes one on the first write), and for a plain file.
  static std::string saltOf(const std::filesystem::path& file);

  // The raw key text "x'<hex>'" for a passphrase and salt; nothing (after
  // logging why) when PBKDF2 fails.
  static std::optional<std::string> rawKey(const std::string& passphrase, const std::string& salt);

 private:
  const Derivation derive_;
  std::mutex mutex_;  // guards keys_
  std::map<std::tuple<std::string, std::string, std::string>, std::string> keys_;  // (file, salt, passphrase)
};

}  // namespace tavero::modules::sql
