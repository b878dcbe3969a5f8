// Whatever the passphrase, a database reopens with the passphrase that made
// it, in this run and the next, and the sqlcipher tool reads it with that
// passphrase: the shell's key cache must never key a file differently from
// SQLCipher itself.
#include <cstdio>
#include <fstream>

#include "modules/SQLiteFixture.h"

namespace tavero::modules {
namespace {

using SQLPassphrase = SQLite;

// What the sqlcipher tool prints for `sql` on `file` keyed with
// `passphrase` (no key for an empty one).
std::string sqlcipherTool(const fs::path& file, const std::string& passphrase, const std::string& sql) {
  fs::path script = file.parent_path() / "tool.sql";
  {
    std::ofstream out(script, std::ios::binary);
    if (!passphrase.empty()) {
      std::string quoted;
      for (char c : passphrase) quoted += c == '\'' ? std::string("''") : std::string(1, c);
      out << "PRAGMA key = '" << quoted << "';\n";
    }
    out << sql << "\n";
  }
  std::string command = "sqlcipher '" + file.string() + "' < '" + script.string() + "' 2>&1";
  FILE* pipe = ::popen(command.c_str(), "r");
  if (!pipe) return "<sqlcipher did not run>";
  std::string output;
  char buffer[256];
  while (std::fgets(buffer, sizeof buffer, pipe)) output += buffer;
  ::pclose(pipe);
  fs::remove(script);
  return output;
}

TEST_F(SQLPassphrase, EveryKindOfPassphraseReopensItsDatabaseAfterWritesAndAcrossRuns) {
  const std::vector<std::string> passphrases = {
      "x'2DD29CA851E7B56E4697B0E1F08507293D761A05CE4D1B628663F411A8086D99'",  // SQLCipher's raw key form
      "x'2DD29CA851E7B56E4697B0E1F08507293D761A05CE4D1B628663F411A8086D9901020304050607080910111213141516'",
      "",
      "p\xC3\xA4ssw\xC3\xB6rd \xE2\x98\x95 it's",
      std::string(10000, 'k') + "!",
      "[1,2]",
  };
  for (size_t i = 0; i < passphrases.size(); ++i) {
    const std::string name = "db" + std::to_string(i), id = std::to_string(i + 1);
    const std::string& passphrase = passphrases[i];
    ASSERT_EQ(field(open(name, {{"passphrase", passphrase}}), "id"), id);
    // Written three times: before the file has its salt, and twice after.
    for (const char* sql : {"CREATE TABLE s (v)", "INSERT INTO s VALUES ('one')", "INSERT INTO s VALUES ('two')"}) {
      std::string t = transaction(id);
      ASSERT_FALSE(begin(t)) << passphrase;
      ASSERT_EQ(field(run(t, sql, std::nullopt, id), "error"), "<none>") << passphrase << ": " << sql;
      ASSERT_FALSE(commit(t)) << passphrase;
    }
    EXPECT_EQ(sqlcipherTool(folder_ / (id + ".db"), passphrase, "SELECT v FROM s ORDER BY v;"), "one\ntwo\n")
        << passphrase;
  }
  sqlite_ = std::make_unique<TQSQLite>(callbacks_, folder_);  // a new run
  for (size_t i = 0; i < passphrases.size(); ++i) {
    const std::string name = "db" + std::to_string(i), id = std::to_string(i + 1);
    ASSERT_EQ(field(open(name, {{"passphrase", passphrases[i]}}), "id"), id) << passphrases[i];
    std::string t = transaction(id);
    EXPECT_EQ(rows(run(t, "SELECT count(*) FROM s", std::nullopt, id)), "[[2]]") << passphrases[i];
    rollback(t);
    if (!passphrases[i].empty()) {
      EXPECT_EQ(field(open(name, {{"passphrase", passphrases[(i + 1) % passphrases.size()] + "x"}}), "error"),
                "Unable to open database: file is encrypted or is not a database");
    }
  }
}

TEST_F(SQLPassphrase, TransactionsMadeBeforeAnEncryptedDatabasesFirstWriteAllWork) {
  // A page queues several transactions on a new database: each connection
  // is keyed while the file is still empty, and the first to write gives it
  // its salt.
  open("fresh", {{"passphrase", "queued"}});
  std::string first = transaction("1"), reader = transaction("1", true), second = transaction("1");
  ASSERT_FALSE(begin(first));
  run(first, "CREATE TABLE s (v)");
  run(first, "INSERT INTO s VALUES (1)");
  ASSERT_FALSE(commit(first));
  auto began = begin(reader);
  EXPECT_FALSE(began) << text(began);
  EXPECT_EQ(rows(run(reader, "SELECT count(*) FROM s")), "[[1]]");
  rollback(reader);
  began = begin(second);
  EXPECT_FALSE(began) << text(began);
  EXPECT_EQ(field(run(second, "INSERT INTO s VALUES (2)"), "error"), "<none>");
  EXPECT_FALSE(commit(second));
  EXPECT_EQ(sqlcipherTool(folder_ / "1.db", "queued", "SELECT count(*) FROM s;"), "2\n");
}

}  // namespace
}  // namespace tavero::modules
