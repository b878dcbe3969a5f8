// The SQL module called as the bridge would: databases, versions,
// statements and their shapes, keys and the page SQL policy.
#include <dlfcn.h>
#include <sys/stat.h>

#include <condition_variable>
#include <cstdio>
#include <fstream>
#include <thread>

#include "base/FileRead.h"
#include "modules/SQLiteFixture.h"

namespace tavero::modules {
namespace {

TEST_F(SQLite, DatabasesGetRisingIdsAndFilesPerOriginAndName) {
  EXPECT_EQ(text(open("notes", {{"version", "1.0"}})), "{ \"id\" : \"1\", \"version\" : \"1.0\"}");
  EXPECT_EQ(field(open("todo", {{"version", "1.0"}}), "id"), "2");
  EXPECT_EQ(field(open("notes", {}, "http://example.org:8080/app.html"), "id"), "3");
  EXPECT_EQ(field(open("notes"), "id"), "1");
  EXPECT_TRUE(fs::exists(folder_ / "1.db"));
  EXPECT_TRUE(fs::exists(folder_ / ".databases.db"));
}

// A page's data belongs to the user alone, whatever umask the shell got.
TEST_F(SQLite, DatabaseFilesArePrivateToTheUserWhateverTheUmask) {
  sqlite_.reset();
  fs::remove_all(folder_);
  const mode_t oldMask = ::umask(0);
  sqlite_ = std::make_unique<TQSQLite>(callbacks_, folder_, options());
  EXPECT_EQ(field(open("notes"), "id"), "1");
  std::string id = transaction("1");
  EXPECT_EQ(field(run(id, "CREATE TABLE t (x)"), "error"), "<none>");
  std::vector<fs::path> files;
  for (const auto& entry : fs::directory_iterator(folder_)) files.push_back(entry.path());
  commit(id);
  for (const auto& entry : fs::directory_iterator(folder_)) files.push_back(entry.path());
  ::umask(oldMask);
  struct stat st {};
  ASSERT_EQ(::stat(folder_.c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0700u);
  EXPECT_GE(files.size(), 2u);  // the registry, the database (and any journal of the transaction)
  for (const fs::path& file : files) {
    ASSERT_EQ(::stat(file.c_str(), &st), 0) << file;
    EXPECT_EQ(st.st_mode & 0777, 0600u) << file;
  }
}

TEST_F(SQLite, VersionRulesOnOpening) {
  open("notes", {{"version", "1.0"}});
  EXPECT_EQ(field(open("notes", {{"version", ""}}), "version"), "1.0");  // any version, the real one answered
  EXPECT_EQ(text(open("notes", {{"version", "2.0"}})), "{ \"error\" : \"Unable to open database: version mismatch\"}");
  EXPECT_EQ(text(call("getVersion", {{"databaseId", "1"}})), "\"1.0\"");
  EXPECT_EQ(text(call("setVersion", {{"databaseId", "1"}, {"version", "2.0"}})), "true");
  EXPECT_EQ(text(call("getVersion", {{"databaseId", "1"}})), "\"2.0\"");
  // Without a version key a new database stores and answers the empty version.
  EXPECT_EQ(field(open("plain"), "version"), "");
}

TEST_F(SQLite, ACreationCallbackFiresOnceWithAnEmptyValueAndTheVersionStartsEmpty) {
  EXPECT_EQ(field(open("fresh", {{"version", "1.0"}, {"creationCallback", "7"}}), "version"), "");
  auto delivered = callbacks_.take();
  ASSERT_EQ(delivered.size(), 1u);
  EXPECT_EQ(delivered[0].id, 7);
  EXPECT_FALSE(delivered[0].value);
  open("fresh", {{"creationCallback", "7"}});
  EXPECT_TRUE(callbacks_.take().empty());
}

TEST_F(SQLite, IdsNotOpenedInThisRunAreNotRecognised) {
  open("notes", {{"version", "1.0"}});
  sqlite_ = std::make_unique<TQSQLite>(callbacks_, folder_);  // a new run
  EXPECT_FALSE(call("getVersion", {{"databaseId", "1"}}));
  EXPECT_FALSE(call("setVersion", {{"databaseId", "1"}, {"version", "x"}}));
  call("createTransaction", {{"databaseId", "1"}, {"success", "1"}, {"failure", "2"}});
  EXPECT_TRUE(callbacks_.take().empty());
  EXPECT_FALSE(run("1", "SELECT 1"));
}

TEST_F(SQLite, DatabaseAndTransactionIdsWorkOnlyForTheOriginThatOpenedTheDatabase) {
  open("vault", {{"passphrase", "secret"}});
  std::string t = transaction("1");
  ASSERT_FALSE(begin(t));
  EXPECT_EQ(field(run(t, "CREATE TABLE v (x)"), "error"), "<none>");
  EXPECT_EQ(field(run(t, "INSERT INTO v VALUES ('private')"), "error"), "<none>");
  EXPECT_EQ(rows(run(t, "SELECT x FROM v")), "[[\"private\"]]");

  // Another origin naming the app's ids gets nothing: no version, no
  // transaction, no rows, and cannot end the app's transaction.
  const std::string site = "http://ads.example.com/frame.html";
  EXPECT_FALSE(call("getVersion", {{"databaseId", "1"}, {"__source", site}}));
  EXPECT_FALSE(call("setVersion", {{"databaseId", "1"}, {"version", "x"}, {"__source", site}}));
  call("createTransaction", {{"databaseId", "1"}, {"success", "1"}, {"failure", "2"}, {"__source", site}});
  EXPECT_TRUE(callbacks_.take().empty());
  EXPECT_FALSE(call("executeStatement", {{"transactionId", t}, {"databaseId", "1"}, {"sqlStatement", "SELECT x FROM v"},
                                         {"__source", site}}));
  EXPECT_FALSE(call("rollbackTransaction", {{"transactionId", t}, {"__source", site}}));
  EXPECT_EQ(rows(run(t, "SELECT x FROM v")), "[[\"private\"]]");  // still the app's, still open
  EXPECT_FALSE(commit(t));
  // Opening its own database of that name gives the site a database of its own.
  EXPECT_EQ(field(open("vault", {}, site), "id"), "2");
  EXPECT_FALSE(call("getVersion", {{"databaseId", "1"}, {"__source", site}}));
}

TEST_F(SQLite, StatementsAnswerTheirShapeAndBindValuesByKind) {
  open("notes");
  std::string t = transaction("1");
  EXPECT_EQ(t, "1");
  EXPECT_FALSE(call("beginTransaction", {{"transactionId", t}}));
  EXPECT_EQ(field(run(t, "CREATE TABLE n (a, b, c, d)"), "error"), "<none>");
  auto inserted = run(t, "INSERT INTO n VALUES (?, ?, ?, ?)",
                      json::JsonCodec::arrayWithJSONString("[1, \"a\", null, true]"));
  EXPECT_EQ(text(inserted), "{ \"insertId\" : 1, \"rowsAffected\" : 1, \"names\" : [], \"rows\" : []}");
  auto selected = run(t, "SELECT typeof(a), a, typeof(b), b, typeof(c), typeof(d), d FROM n");
  EXPECT_EQ(text(selected),
            "{ \"rowsAffected\" : 0, \"names\" : [\"typeof(a)\", \"a\", \"typeof(b)\", \"b\", "
            "\"typeof(c)\", \"typeof(d)\", \"d\"], \"rows\" : [[\"real\", 1, \"text\", \"a\", \"null\", "
            "\"integer\", 1]]}");
  EXPECT_EQ(text(run(t, "SELECT x'00ff10', x'', CAST(x'ff41' AS TEXT)")).find("[[\"00ff10\", \"\", \"\xEF\xBF\xBD" "A\"]]") != std::string::npos, true);
  EXPECT_FALSE(call("commitTransaction", {{"transactionId", t}}));
  EXPECT_FALSE(call("commitTransaction", {{"transactionId", t}}));  // already ended: no answer
  EXPECT_FALSE(run(t, "SELECT 1"));
}

TEST_F(SQLite, ControlStatementsTailsAndUnsafeSqlAreRefused) {
  open("notes");
  std::string t = transaction("1");
  const std::string refused = "{ \"error\" : \"Could not execute statement: not authorized\", \"code\" : 5}";
  for (const char* sql : {"begin transaction", "   BEGIN", "End", "rollback to savepoint a", "COMMIT"})
    EXPECT_EQ(text(run(t, sql)), refused) << sql;
  EXPECT_EQ(text(call("executeStatement", {{"transactionId", t}})), refused);
  for (const char* sql : {"SAVEPOINT a", "RELEASE a", "SELECT 1;", "SELECT 1   "})
    EXPECT_EQ(field(run(t, sql), "error"), "<none>") << sql;
  for (const char* sql : {"SELECT 1; ", "SELECT 1; SELECT 2", "SELECT 1;;"}) {
    EXPECT_EQ(text(run(t, sql)), "{ \"error\" : \"Could not execute statement: only one statement is allowed, and text "
                                 "follows the first one\", \"code\" : 5}")
        << sql;
  }
  for (const char* sql : {"", "  ", ";", "-- nothing"})
    EXPECT_EQ(text(run(t, sql)), "{ \"error\" : \"Could not execute statement: the statement is empty\", \"code\" : 1}");
  for (const char* sql : {"ATTACH DATABASE '/tmp/tavero-attached.db' AS x", "PRAGMA table_info(sqlite_master)",
                          "CREATE VIRTUAL TABLE f USING fts3(a)"})
    EXPECT_EQ(text(run(t, sql)), refused) << sql;
  EXPECT_FALSE(fs::exists("/tmp/tavero-attached.db"));

}

TEST_F(SQLite, ReadTransactionsRefuseEveryChangeTemporaryOnesToo) {
  open("notes");
  std::string writer = transaction("1");
  run(writer, "CREATE TABLE n (a)");
  run(writer, "INSERT INTO n VALUES (1)");
  call("commitTransaction", {{"transactionId", writer}});
  const std::string refused = "Could not execute statement: attempt to write a readonly database";
  for (bool indexed : {false, true}) {
    if (indexed) {
      writer = transaction("1");
      run(writer, "CREATE INDEX n_a ON n (a)");
      call("commitTransaction", {{"transactionId", writer}});
    }
    std::string reader = transaction("1", true);
    EXPECT_FALSE(call("beginTransaction", {{"transactionId", reader}}));
    for (const char* sql : {"INSERT INTO n VALUES (2)", "REINDEX", "CREATE TEMP TABLE scratch (x)",
                            "  reindex n", "CREATE TEMP VIEW v AS SELECT 1", "CREATE TABLE t (x)", "DELETE FROM n"})
      EXPECT_EQ(field(run(reader, sql), "error"), refused) << sql << (indexed ? " (with an index)" : "");
    for (const char* sql : {"SELECT count(*) FROM n", "SAVEPOINT s", "RELEASE s", "SELECT name FROM sqlite_master"})
      EXPECT_EQ(field(run(reader, sql), "error"), "<none>") << sql;
    EXPECT_FALSE(call("rollbackTransaction", {{"transactionId", reader}}));
  }
}

// Connections get a busy handler instead of SQLite's timed one: it tells the
// test when a connection finds the database locked, and retries without
// sleeping once the test lets it.
class SQLiteBusyWait : public SQLite {
 protected:
  struct Waiting {
    std::mutex mutex;
    std::condition_variable changed;
    int busyCalls = 0;
  };
  static Waiting& waiting() {
    static Waiting shared;
    return shared;
  }
  static int onBusy(void*, int attempt) {
    Waiting& w = waiting();
    std::unique_lock lock(w.mutex);
    ++w.busyCalls;
    w.changed.notify_all();
    // Gives the holder a moment, as SQLite's own handler does; bounded so a
    // lock that is never released fails the call instead of hanging.
    w.changed.wait_for(lock, std::chrono::milliseconds(5));
    return attempt < 4000;
  }
  static int installBusyHandler(sqlite3* db, int) {
    using BusyHandler = int (*)(sqlite3*, int (*)(void*, int), void*);
    static const auto busyHandler = [] {
      void* library = ::dlopen("libsqlcipher.so.0", RTLD_NOW | RTLD_NOLOAD);
      return library ? reinterpret_cast<BusyHandler>(::dlsym(library, "sqlite3_busy_handler")) : nullptr;
    }();
    return busyHandler ? busyHandler(db, &onBusy, nullptr) : SQLITE_ERROR;
  }
  static const sql::SQLCipherLibrary* library() {
    static const sql::SQLCipherLibrary copy = [] {
      sql::SQLCipherLibrary l = *sql::SQLCipherLibrary::get();
      l.busy_timeout = &installBusyHandler;
      return l;
    }();
    return &copy;
  }
  void SetUp() override {
    ASSERT_NE(sql::SQLCipherLibrary::get(), nullptr);
    {
      std::lock_guard lock(waiting().mutex);
      waiting().busyCalls = 0;
    }
    SQLite::SetUp();
  }
  TQSQLite::Options options() override {
    TQSQLite::Options options;
    options.library = library();
    return options;
  }
  // Waits until a connection has found the database locked.
  static bool waitUntilBlocked() {
    std::unique_lock lock(waiting().mutex);
    return waiting().changed.wait_for(lock, std::chrono::seconds(10), [] { return waiting().busyCalls > 0; });
  }
};

TEST_F(SQLiteBusyWait, ASecondWriterWaitsForTheFirstInsteadOfFailing) {
  open("notes");
  std::string first = transaction("1"), second = transaction("1");
  ASSERT_FALSE(call("beginTransaction", {{"transactionId", first}}));
  std::optional<json::Value> secondBegin = json::Value("not run");
  std::thread waitingWriter([&] { secondBegin = call("beginTransaction", {{"transactionId", second}}); });
  EXPECT_TRUE(waitUntilBlocked()) << "the second BEGIN never found the database locked";
  run(first, "CREATE TABLE n (a)");
  call("commitTransaction", {{"transactionId", first}});
  waitingWriter.join();
  EXPECT_FALSE(secondBegin) << text(secondBegin);  // it began once the first committed
  EXPECT_EQ(field(run(second, "INSERT INTO n VALUES (1)"), "error"), "<none>");
}

TEST_F(SQLite, EncryptedDatabasesNeedTheirPassphrase) {
  EXPECT_EQ(field(open("secret", {{"passphrase", "correct horse"}}), "id"), "1");
  std::string t = transaction("1");
  call("beginTransaction", {{"transactionId", t}});
  run(t, "CREATE TABLE s (v)");
  run(t, "INSERT INTO s VALUES ('hidden words')");
  call("commitTransaction", {{"transactionId", t}});

  std::string bytes = base::readFileText(folder_ / "1.db").value_or("");
  EXPECT_EQ(bytes.find("hidden words"), std::string::npos);
  EXPECT_EQ(bytes.find("SQLite format 3"), std::string::npos);

  EXPECT_EQ(field(open("secret", {{"passphrase", "wrong"}}), "error"),
            "Unable to open database: file is encrypted or is not a database");
  EXPECT_EQ(field(open("secret"), "error"), "Unable to open database: file is encrypted or is not a database");
  // The failed openings left the right passphrase in place.
  t = transaction("1");
  EXPECT_EQ(text(run(t, "SELECT v FROM s")).find("hidden words") != std::string::npos, true);
  call("rollbackTransaction", {{"transactionId", t}});
}

TEST_F(SQLite, TheSqlcipherToolReadsWhatTheShellWrote) {
  open("shared", {{"passphrase", "p4ss'word"}});
  std::string t = transaction("1");
  call("beginTransaction", {{"transactionId", t}});
  run(t, "CREATE TABLE s (v)");
  run(t, "INSERT INTO s VALUES ('one')");
  call("commitTransaction", {{"transactionId", t}});
  t = transaction("1");  // keyed with the key derived from the file's salt this time
  call("beginTransaction", {{"transactionId", t}});
  run(t, "INSERT INTO s VALUES ('two')");
  call("commitTransaction", {{"transactionId", t}});

  std::string command = "printf \"PRAGMA key = 'p4ss''word';\\nSELECT v FROM s ORDER BY v;\\n\" | sqlcipher '" +
                        (folder_ / "1.db").string() + "' 2>&1";
  FILE* pipe = ::popen(command.c_str(), "r");
  ASSERT_NE(pipe, nullptr);
  std::string output;
  char buffer[256];
  while (std::fgets(buffer, sizeof buffer, pipe)) output += buffer;
  ::pclose(pipe);
  EXPECT_EQ(output, "one\ntwo\n");
}

TEST_F(SQLite, EstimatedSizeKeepsTheLow32BitsAndQuotesStayText) {
  open("it's \"quoted\"", {{"estimatedSize", "4294967301"}, {"version", "v'1"}});
  open("big", {{"estimatedSize", "2147483647"}});
  std::string command = "printf 'SELECT name, version, estimatedSize FROM Databases ORDER BY uid;\\n' | sqlcipher '" +
                        (folder_ / ".databases.db").string() + "' 2>&1";
  FILE* pipe = ::popen(command.c_str(), "r");
  std::string output;
  char buffer[256];
  while (pipe && std::fgets(buffer, sizeof buffer, pipe)) output += buffer;
  if (pipe) ::pclose(pipe);
  EXPECT_EQ(output, "it's \"quoted\"|v'1|5\nbig||2147483647\n");
}

}  // namespace
}  // namespace tavero::modules
