// The SQL module as pages reach it: percent-encoded GETs through the bridge,
// sync answers as JSON text, the transaction id by callback script.
#include <gtest/gtest.h>

#include <cctype>
#include <filesystem>
#include <fstream>

#include "bridge/QLTaveroBridge.h"
#include "json/Hex.h"
#include "modules/RecordedScripts.h"
#include "modules/TQSQLite.h"
#include "support/LoopbackClient.h"

namespace tavero::modules {
namespace {

namespace fs = std::filesystem;

class SQLiteOverBridge : public ::testing::Test {
 protected:
  SQLiteOverBridge() {
    folder_ = fs::temp_directory_path() / ("tavero-sql-bridge-" + std::to_string(::getpid()));
    fs::remove_all(folder_);
    modules_.add("TQSQLite", [this] { return std::make_unique<TQSQLite>(scripts_.delivery(), folder_); });
    bridge_ = std::make_unique<bridge::QLTaveroBridge>(modules_, 0);
  }
  ~SQLiteOverBridge() override {
    bridge_.reset();
    fs::remove_all(folder_);
  }

  // Sends `query` as the app's page would (which names itself in every call).
  std::string ask(std::string query) {
    if (query.find("__source=") == std::string::npos) query += "&__source=file%3A%2F%2F%2Fa%2Findex.html";
    testing::LoopbackClient client(bridge_->port());
    client.send(testing::getRequest("/?" + query, bridge_->port()));
    auto answer = client.readAnswer();
    return answer ? answer->body : "<no answer>";
  }
  std::string nextScript() { return scripts_.next(); }

  fs::path folder_;
  test::RecordedScripts scripts_;
  bridge::ModuleRegistry modules_;
  std::unique_ptr<bridge::QLTaveroBridge> bridge_;
};

TEST_F(SQLiteOverBridge, APageOpensADatabaseRunsATransactionAndReadsItsRows) {
  EXPECT_EQ(ask("command=SQLite%23openDatabase&sync=true&name=notes&version=1.0&__source=file%3A%2F%2F%2Fa%2Findex.html"),
            "{\n\t \"id\" : \"1\",\n\t \"version\" : \"1.0\"}");
  EXPECT_EQ(ask("command=SQLite%23createTransaction&databaseId=1&success=5&failure=6"), "");  // queued
  EXPECT_EQ(nextScript(), "Kio.device.Communicator.invoke('5', [\"1\"])");
  EXPECT_EQ(ask("command=SQLite%23beginTransaction&sync=true&transactionId=1"), "");
  ask("command=SQLite%23executeStatement&sync=true&transactionId=1&databaseId=1&version=1.0"
      "&sqlStatement=CREATE%20TABLE%20n%20(body)");
  EXPECT_EQ(ask("command=SQLite%23executeStatement&sync=true&transactionId=1&databaseId=1&version=1.0"
                "&sqlStatement=INSERT%20INTO%20n%20VALUES%20(%3F)&arguments=%5B%22caf%C3%A9%20a+b%22%5D"),
            "{\n\t \"insertId\" : 1,\n\t \"rowsAffected\" : 1,\n\t \"names\" : [],\n\t \"rows\" : []}");
  EXPECT_EQ(ask("command=SQLite%23executeStatement&sync=true&transactionId=1&databaseId=1&version=2.0"
                "&sqlStatement=SELECT%201"),
            "{\n\t \"error\" : \"Could not execute statement: version mismatch\",\n\t \"code\" : 2}");
  EXPECT_EQ(ask("command=SQLite%23commitTransaction&sync=true&transactionId=1"), "");

  ask("command=SQLite%23createTransaction&databaseId=1&readOnly=true&success=7&failure=8");
  EXPECT_EQ(nextScript(), "Kio.device.Communicator.invoke('7', [\"2\"])");
  EXPECT_EQ(ask("command=SQLite%23executeStatement&sync=true&transactionId=2&databaseId=1"
                "&sqlStatement=SELECT%20body%20FROM%20n"),
            "{\n\t \"rowsAffected\" : 0,\n\t \"names\" : [\"body\"],\n\t \"rows\" : "
            "[[\"caf\xC3\xA9 a+b\"]]}");  // no insertId: the statement inserted nothing
  EXPECT_EQ(ask("command=SQLite%23beginTransaction&sync=true&transactionId=99"), "");  // unknown: empty
}

// Percent-encodes every byte but letters and digits.
std::string encoded(std::string_view text) {
  std::string out;
  for (unsigned char c : text) {
    if (std::isalnum(c)) {
      out += static_cast<char>(c);
    } else {
      out += '%';
      json::appendHex(out, c, json::HexCase::upper);
    }
  }
  return out;
}

TEST_F(SQLiteOverBridge, TextArgumentsThatLookLikeJsonStayThePagesText) {
  const std::vector<std::string> texts = {"[1,2]", "{}", "[notes", " [x]"};
  auto open = [&](const std::string& name, const std::string& version, const std::string& passphrase) {
    return ask("command=SQLite%23openDatabase&sync=true&__source=file%3A%2F%2F%2Fa%2Findex.html&name=" +
               encoded(name) + "&version=" + encoded(version) + "&displayName=" + encoded(name) +
               "&passphrase=" + encoded(passphrase));
  };
  // Each name is a database of its own, opened again by the same text.
  for (size_t i = 0; i < texts.size(); ++i) {
    const std::string id = std::to_string(i + 1);
    EXPECT_EQ(open(texts[i], texts[i], texts[i]), "{\n\t \"id\" : \"" + id + "\",\n\t \"version\" : \"" +
                                                      texts[i] + "\"}");
    ask("command=SQLite%23createTransaction&databaseId=" + id + "&success=5&failure=6");
    std::string t = nextScript();
    t = t.substr(t.find("[\"") + 2, t.find("\"]") - t.find("[\"") - 2);
    EXPECT_EQ(ask("command=SQLite%23beginTransaction&sync=true&transactionId=" + t), "");
    // The version is checked against the text, and the statement is the text.
    EXPECT_EQ(ask("command=SQLite%23executeStatement&sync=true&transactionId=" + t + "&databaseId=" + id +
                  "&version=" + encoded(texts[i]) + "&sqlStatement=" +
                  encoded("CREATE TABLE t AS SELECT " + std::string(i % 2 ? "'{}'" : "'[1,2]'") + " AS v")),
              "{\n\t \"rowsAffected\" : 0,\n\t \"names\" : [],\n\t \"rows\" : []}");
    EXPECT_NE(ask("command=SQLite%23executeStatement&sync=true&transactionId=" + t + "&databaseId=" + id +
                  "&version=" + encoded(texts[(i + 1) % texts.size()]) + "&sqlStatement=SELECT%201")
                  .find("version mismatch"),
              std::string::npos);
    EXPECT_EQ(ask("command=SQLite%23executeStatement&sync=true&transactionId=" + t + "&databaseId=" + id +
                  "&sqlStatement=" + encoded(texts[i])).find("not authorized"),
              std::string::npos)
        << "the statement text reached SQLite";
    EXPECT_EQ(ask("command=SQLite%23commitTransaction&sync=true&transactionId=" + t), "");
  }
  EXPECT_NE(open("[1,2]", "", "[1,2]").find("\"id\" : \"1\""), std::string::npos);
  EXPECT_NE(open("[1,2]", "[2]", "[1,2]").find("version mismatch"), std::string::npos);
  // Every passphrase encrypted its file, and only that passphrase opens it.
  for (size_t i = 0; i < texts.size(); ++i) {
    std::ifstream file(folder_ / (std::to_string(i + 1) + ".db"), std::ios::binary);
    std::string head(16, '\0');
    file.read(head.data(), 16);
    EXPECT_NE(head, std::string("SQLite format 3\0", 16)) << texts[i];
    EXPECT_NE(open(texts[i], "", "").find("Unable to open database"), std::string::npos) << texts[i];
    EXPECT_NE(open(texts[i], "", texts[(i + 1) % texts.size()]).find("Unable to open database"),
              std::string::npos);
  }
}

}  // namespace
}  // namespace tavero::modules
