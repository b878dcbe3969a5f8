// SQL through the bridge, measured against `tavero serve` over HTTP:
//  1. a full transaction (create, begin, one INSERT, commit) on an encrypted
//     database against the same on a plain one;
//  2. a SELECT of 10,000 rows through the bridge against the same query
//     through SQLite's C API in this process (rows read and written as JSON).
// Medians of many runs, and their ratios.
//
//   sql_bench TAVERO_BINARY [ROUNDS]
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <regex>
#include <string>
#include <vector>

#include "json/JsonCodec.h"
#include "BenchLine.h"
#include "modules/sql/SQLCipherLibrary.h"
#include "modules/sql/SQLConnection.h"
#include "modules/sql/SQLStatementRunner.h"
#include "support/LoopbackClient.h"

extern char** environ;

using namespace tavero;
using Clock = std::chrono::steady_clock;

namespace {

// `tavero serve` on a free port; callback scripts are read from its output.
class Server {
 public:
  Server(const char* binary, const std::filesystem::path& home) {
    int out[2], err[2];
    if (::pipe(out) != 0 || ::pipe(err) != 0) std::exit(1);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, out[1], STDOUT_FILENO);
    posix_spawn_file_actions_adddup2(&actions, err[1], STDERR_FILENO);
    std::string homeText = home.string();
    const char* argv[] = {binary, "serve", "--port", "0", "--home", homeText.c_str(), nullptr};
    if (posix_spawn(&pid_, binary, &actions, nullptr, const_cast<char**>(argv), environ) != 0) std::exit(1);
    ::close(out[1]);
    ::close(err[1]);
    stdout_ = ::fdopen(out[0], "r");
    FILE* log = ::fdopen(err[0], "r");
    char line[1024];
    std::regex listening("listening on 127\\.0\\.0\\.1:([0-9]+)");
    while (port_ == 0 && std::fgets(line, sizeof line, log)) {
      std::cmatch match;
      if (std::regex_search(line, match, listening)) port_ = static_cast<uint16_t>(std::stoi(match[1]));
    }
  }
  ~Server() {
    ::kill(pid_, SIGTERM);
    ::waitpid(pid_, nullptr, 0);
  }
  uint16_t port() const { return port_; }
  // The value of the next callback script, e.g. the transaction id.
  std::string nextCallbackValue() {
    char line[4096];
    if (!std::fgets(line, sizeof line, stdout_)) return "";
    std::smatch match;
    std::string text(line);
    static const std::regex value(R"(\[\\\"([^\\]*)\\\"\])");
    return std::regex_search(text, match, value) ? match[1].str() : "";
  }

 private:
  pid_t pid_ = 0;
  uint16_t port_ = 0;
  FILE* stdout_ = nullptr;
};

// Sends `query` as the bench page would: it names itself in every call.
std::string ask(testing::LoopbackClient& client, uint16_t port, std::string query) {
  if (query.find("__source=") == std::string::npos) query += "&__source=file%3A%2F%2F%2Fb.html";
  client.send(testing::getRequest("/?" + query, port));
  auto answer = client.readAnswer();
  return answer ? answer->body : "<no answer>";
}

std::string encoded(std::string text) {
  std::string out;
  for (unsigned char c : text) {
    if (std::isalnum(c) || c == '-' || c == '_' || c == '.') out += static_cast<char>(c);
    else {
      char escape[4];
      std::snprintf(escape, sizeof escape, "%%%02X", c);
      out += escape;
    }
  }
  return out;
}

double median(std::vector<double> values) {
  std::sort(values.begin(), values.end());
  return values[values.size() / 2];
}

std::string databaseId(const std::string& openAnswer) {
  std::smatch match;
  std::regex id(R"re("id" : "([0-9]+)")re");
  return std::regex_search(openAnswer, match, id) ? match[1].str() : "";
}

double transactionMs(Server& server, testing::LoopbackClient& client, const std::string& id, int i) {
  auto start = Clock::now();
  ask(client, server.port(), "command=SQLite%23createTransaction&databaseId=" + id + "&success=1&failure=2");
  std::string transaction = server.nextCallbackValue();
  ask(client, server.port(), "command=SQLite%23beginTransaction&sync=true&transactionId=" + transaction);
  ask(client, server.port(),
      "command=SQLite%23executeStatement&sync=true&databaseId=" + id + "&transactionId=" + transaction +
          "&sqlStatement=" + encoded("INSERT INTO t VALUES (?, ?)") + "&arguments=" +
          encoded(std::string("[").append(std::to_string(i)).append(", \"row text\"]")));
  ask(client, server.port(), "command=SQLite%23commitTransaction&sync=true&transactionId=" + transaction);
  return std::chrono::duration<double, std::milli>(Clock::now() - start).count();
}

void createTable(Server& server, testing::LoopbackClient& client, const std::string& id) {
  ask(client, server.port(), "command=SQLite%23createTransaction&databaseId=" + id + "&success=1&failure=2");
  std::string transaction = server.nextCallbackValue();
  auto exec = [&](const std::string& sql) {
    ask(client, server.port(), "command=SQLite%23executeStatement&sync=true&databaseId=" + id +
                                   "&transactionId=" + transaction + "&sqlStatement=" + encoded(sql));
  };
  ask(client, server.port(), "command=SQLite%23beginTransaction&sync=true&transactionId=" + transaction);
  exec("CREATE TABLE t (n INTEGER, label TEXT)");
  ask(client, server.port(), "command=SQLite%23commitTransaction&sync=true&transactionId=" + transaction);
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2) return std::fprintf(stderr, "usage: sql_bench TAVERO_BINARY [ROUNDS]\n"), 2;
  int rounds = argc > 2 ? std::atoi(argv[2]) : 200;
  auto home = std::filesystem::temp_directory_path() / ("tavero-sql-bench-" + std::to_string(::getpid()));
  std::filesystem::remove_all(home);
  Server server(argv[1], home);
  if (!server.port()) return std::fprintf(stderr, "tavero serve did not start\n"), 1;
  testing::LoopbackClient client(server.port());

  std::string plain = databaseId(ask(client, server.port(), "command=SQLite%23openDatabase&sync=true&name=plain&__source=file%3A%2F%2F%2Fb.html"));
  std::string secret = databaseId(ask(client, server.port(), "command=SQLite%23openDatabase&sync=true&name=secret&passphrase=bench%20pass&__source=file%3A%2F%2F%2Fb.html"));
  createTable(server, client, plain);
  createTable(server, client, secret);

  std::vector<double> plainMs, secretMs;
  for (int i = 0; i < rounds; ++i) {
    plainMs.push_back(transactionMs(server, client, plain, i));
    secretMs.push_back(transactionMs(server, client, secret, i));
  }
  std::printf("transaction (create, begin, INSERT, commit) over HTTP, median of %d:\n", rounds);
  std::printf("  plain:     %.3f ms\n  encrypted: %.3f ms\n  encrypted / plain: %.2f\n", median(plainMs),
              median(secretMs), median(secretMs) / median(plainMs));
  bench::printBenchLine("sql_encrypted_transaction", median(secretMs), "ms", "plain_transaction", median(plainMs));

  // 10,000 rows, made in process (page SQL may not use WITH RECURSIVE).
  const auto* library = modules::sql::SQLCipherLibrary::get();
  std::string rowsDb = databaseId(ask(client, server.port(), "command=SQLite%23openDatabase&sync=true&name=rows&__source=file%3A%2F%2F%2Fb.html"));
  auto file = home / "Library/Application Support/sqlite_databases" / (rowsDb + ".db");
  {
    auto setup = modules::sql::SQLConnection::open(*library, file, SQLITE_OPEN_READWRITE);
    setup->exec("CREATE TABLE t (n INTEGER, label TEXT, ratio REAL)");
    setup->exec("WITH RECURSIVE c(x) AS (SELECT 1 UNION ALL SELECT x + 1 FROM c WHERE x < 10000) "
                "INSERT INTO t SELECT x, 'label number ' || x, x / 7.0 FROM c");
  }
  const std::string select = "SELECT n, label, ratio FROM t";
  std::vector<double> bridgeMs, directMs;
  size_t bytes = 0;
  for (int i = 0; i < 20; ++i) {
    auto start = Clock::now();
    ask(client, server.port(), "command=SQLite%23createTransaction&databaseId=" + rowsDb + "&success=1&failure=2");
    std::string transaction = server.nextCallbackValue();
    std::string body = ask(client, server.port(), "command=SQLite%23executeStatement&sync=true&databaseId=" + rowsDb +
                                                       "&transactionId=" + transaction + "&sqlStatement=" + encoded(select));
    ask(client, server.port(), "command=SQLite%23rollbackTransaction&sync=true&transactionId=" + transaction);
    bridgeMs.push_back(std::chrono::duration<double, std::milli>(Clock::now() - start).count());
    bytes = body.size();

    start = Clock::now();
    auto connection = modules::sql::SQLConnection::open(*library, file, SQLITE_OPEN_READONLY);
    std::string text = json::JsonCodec::jsonStringForValue(modules::sql::SQLStatementRunner::run(*connection, select, nullptr).value);
    directMs.push_back(std::chrono::duration<double, std::milli>(Clock::now() - start).count());
  }
  std::printf("SELECT of 10,000 rows (%zu bytes of JSON), median of 20:\n", bytes);
  std::printf("  through the bridge:      %.2f ms\n  in process (C API + JSON): %.2f ms\n  bridge / in process: %.2f\n",
              median(bridgeMs), median(directMs), median(bridgeMs) / median(directMs));
  bench::printBenchLine("sql_select_10k_rows", median(bridgeMs), "ms", "in_process", median(directMs));
  std::filesystem::remove_all(home);
  return 0;
}
