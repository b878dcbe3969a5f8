// Objects the reader makes keep their members in the document's MemberPool.
// These cases take such objects out of their document, mutate them and free
// them in every order; under AddressSanitizer a member block freed too early
// or never freed fails them.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "json/JsonCodec.h"
#include "json/JsonScanner.h"
#include "json/MemberPool.h"

namespace tavero::json {
namespace {

// The object's text on one line.
std::string compact(const Object& object) {
  std::string text = JsonCodec::jsonStringValueWithIndentLevel(object, JsonCodec::jsonDoNotIndent);
  std::erase(text, '\n');
  return text;
}

Object read(std::string_view text) {
  auto object = JsonCodec::dictionaryWithJSONString(text);
  EXPECT_TRUE(object) << text;
  return object ? std::move(*object) : Object();
}

TEST(MemberPool, AllocatesAlignedAndGivesLargeRequestsAChunkOfTheirOwn) {
  MemberPool* pool = MemberPool::create();
  std::vector<char*> small;
  for (int i = 0; i < 200; ++i) {  // past the first block and several chunks
    auto* p = static_cast<char*>(pool->allocate(static_cast<size_t>(1 + i % 70)));
    EXPECT_EQ(reinterpret_cast<uintptr_t>(p) % 8, 0u);
    std::memset(p, i, static_cast<size_t>(1 + i % 70));
    small.push_back(p);
  }
  const size_t before = pool->reservedBytes();
  auto* large = static_cast<char*>(pool->allocate(1 << 20));
  std::memset(large, 0xAB, 1 << 20);
  EXPECT_GE(pool->reservedBytes(), before + (1 << 20));
  // The chunk being filled is still used after the large request.
  const size_t afterLarge = pool->reservedBytes();
  pool->allocate(16);
  EXPECT_EQ(pool->reservedBytes(), afterLarge);
  for (size_t i = 0; i < small.size(); ++i) EXPECT_EQ(small[i][0], static_cast<char>(i)) << i;

  pool->retain();
  pool->release();
  EXPECT_EQ(large[(1 << 20) - 1], static_cast<char>(0xAB));  // still held by the first reference
  pool->release();
}

TEST(DocumentMemory, PiecesOutliveTheirDocument) {
  Object copied, moved;
  Array movedArray;
  Value movedValue;
  {
    Object document = read(R"({"a": {"x": 1, "y": "a string longer than the short buffer"},
                                "b": [{"k": "v"}, {"k": "w"}], "c": {"deep": {"deeper": {"z": true}}}})");
    copied = document.find("a")->asObject();
    moved = std::move(document.find("a")->asObject());
    movedArray = std::move(document.find("b")->asArray());
    movedValue = std::move(*document.find("c"));
    EXPECT_EQ(compact(document), R"({ "a" : {}, "b" : [], "c" : {}})");  // what moved-from values hold
  }
  EXPECT_EQ(compact(copied), R"({ "x" : 1, "y" : "a string longer than the short buffer"})");
  EXPECT_EQ(moved, copied);
  EXPECT_EQ(movedArray[1].asObject().find("k")->asString(), "w");
  EXPECT_TRUE(movedValue.asObject().find("deep")->asObject().find("deeper")->asObject().find("z")->asBool());

  // The root moved into a value, and the optional destroyed before it.
  Value root;
  {
    auto read = JsonCodec::dictionaryWithJSONString(R"({"r": {"s": 2}})");
    ASSERT_TRUE(read);
    root = Value(std::move(*read));
  }
  EXPECT_EQ(root.asObject().find("r")->asObject().find("s")->toInt64(), 2);
}

TEST(DocumentMemory, PiecesMoveBetweenDocuments) {
  Object target = read(R"({"rows": [{"id": 1}], "meta": {"n": 1}})");
  {
    Object source = read(R"({"rows": [{"id": 2, "name": "two"}, {"id": 3}], "meta": {"n": 2}})");
    Array& rows = target.find("rows")->asArray();
    for (Value& row : source.find("rows")->asArray()) rows.push_back(std::move(row));
    target.set("meta", std::move(*source.find("meta")));
  }
  EXPECT_EQ(compact(target), R"({ "rows" : [{ "id" : 1}, { "id" : 2, "name" : "two"}, { "id" : 3}], "meta" : { "n" : 2}})");
  // Assigning a document's object from a piece of itself.
  Object self = read(R"({"inner": {"inner": {"leaf": 1}}})");
  self = std::move(self.find("inner")->asObject());
  self = std::move(self.find("inner")->asObject());
  EXPECT_EQ(compact(self), R"({ "leaf" : 1})");
}

TEST(DocumentMemory, ReadObjectsCanBeChanged) {
  Object document = read(R"({"a": 1, "b": {"c": "x", "d": [1]}, "e": 3})");
  Object& b = document.find("b")->asObject();
  b.set("c", Value("replaced in place with a string longer than sixteen bytes"));
  b.append("f", Value(Object()));  // beyond its read size: the members move to the heap
  b.find("f")->asObject().set("g", Value(true));
  EXPECT_TRUE(document.erase("a"));  // moves "b" one place down
  EXPECT_FALSE(document.erase("a"));
  document.set("h", Value(Array{Value(1), Value(2)}));
  Object& moved = document.find("b")->asObject();
  EXPECT_EQ(compact(moved), R"({ "c" : "replaced in place with a string longer than sixteen bytes", "d" : [1], "f" : { "g" : true}})");
  moved.reserve(40);
  for (int i = 0; i < 30; ++i) moved.append("k" + std::to_string(i), Value(i));  // large enough to be indexed
  EXPECT_TRUE(moved.erase("k3"));
  EXPECT_EQ(moved.find("k29")->toInt64(), 29);
  EXPECT_EQ(moved.find("k3"), nullptr);
  EXPECT_EQ(moved.size(), 32u);
  moved = Object();
  EXPECT_EQ(compact(document), R"({ "b" : {}, "e" : 3, "h" : [1, 2]})");

  // Erasing from an object still in its pool, then growing it.
  Object small = read(R"({"p": 1, "q": 2, "r": 3})");
  EXPECT_TRUE(small.erase("p"));
  small.append("s", Value(4));
  small.append("t", Value(5));
  EXPECT_EQ(compact(small), R"({ "q" : 2, "r" : 3, "s" : 4, "t" : 5})");
}

TEST(DocumentMemory, LargeAndManyPieces) {
  // A string of a megabyte and a key near it.
  std::string big(1 << 20, 'x');
  big[12345] = 'y';
  Object withBig = read("{\"big\": \"" + big + "\", \"after\": 1}");
  EXPECT_EQ(withBig.find("big")->asString(), big);
  EXPECT_EQ(withBig.find("after")->toInt64(), 1);

  // Many small objects spread over many chunks; the 16-member object is the
  // largest kept in the pool, the 17-member one is handed to the heap, and
  // both find every key, the repeated one with its last value.
  std::string text = "{\"rows\": [";
  for (int i = 0; i < 50'000; ++i) text += "{\"i\": " + std::to_string(i) + ", \"s\": \"row\"},";
  std::string sixteen = "{", seventeen = "{";
  for (int i = 0; i < 16; ++i) sixteen += "\"m" + std::to_string(i) + "\": " + std::to_string(i) + ",";
  seventeen = sixteen + "\"m16\": 16, \"m0\": -1}";
  sixteen += "\"m0\": -1}";
  text += sixteen + "," + seventeen + "]}";
  Object many = read(text);
  const Array& rows = many.find("rows")->asArray();
  ASSERT_EQ(rows.size(), 50'002u);
  EXPECT_EQ(rows[49'999].asObject().find("i")->toInt64(), 49'999);
  for (size_t at : {size_t{50'000}, size_t{50'001}}) {
    const Object& o = rows[at].asObject();
    EXPECT_EQ(o.size(), at == 50'000 ? 16u : 17u);
    EXPECT_EQ(o.find("m0")->toInt64(), -1);
    EXPECT_EQ(o.find("m15")->toInt64(), 15);
    EXPECT_EQ(o.begin()->key, "m0");
  }

  // Pieces of one document destroyed on another thread than its root.
  Array taken = std::move(many.find("rows")->asArray());
  std::thread other([rows = std::move(taken)]() mutable { rows.clear(); });
  many = Object();
  other.join();
}

TEST(DocumentMemory, FailedReadsFreeWhatTheyRead) {
  // Objects completed before the text breaks off are destroyed with their
  // pool; LeakSanitizer would report what is not.
  for (const char* text : {R"({"a": {"b": 1}, "c": {"d": )", R"({"a": [{"b": 1}, {"c": 2}, )",
                           R"({"a": {"b": {"c": {}}}, "d" x})"}) {
    EXPECT_FALSE(JsonCodec::dictionaryWithJSONString(text)) << text;
  }
  // A scanner that reads several values shares its pool between them.
  JsonScanner scanner(R"({"a": 1} {"b": 2})");
  Object first, second;
  ASSERT_TRUE(scanner.scanJSONObject(first));
  ASSERT_TRUE(scanner.scanJSONObject(second));
  EXPECT_EQ(compact(first), R"({ "a" : 1})");
  EXPECT_EQ(compact(second), R"({ "b" : 2})");
}

}  // namespace
}  // namespace tavero::json
