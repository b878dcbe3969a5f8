#include "modules/sql/SQLStatementBatch.h"

namespace tavero::modules::sql {
namespace {

std::string entryRefusal(size_t index, const char* why) {
  return "statement " + std::to_string(index + 1) + " " + why;
}

// One entry, or why it is refused.
std::variant<BatchStatement, std::string> readEntry(const json::Value& entry, size_t index) {
  const json::Array* parts = entry.ifArray();
  if (!parts || parts->empty() || parts->size() > 3)
    return entryRefusal(index, "is not a list of [sql, arguments, quiet]");
  if (!(*parts)[0].isString()) return entryRefusal(index, "has no SQL text");
  BatchStatement statement{(*parts)[0].asString(), nullptr, false};
  if (parts->size() > 1) {
    const json::Value& arguments = (*parts)[1];
    if (!arguments.isNull() && !arguments.isArray()) return entryRefusal(index, "has arguments that are not a list");
    if (arguments.isArray()) statement.arguments = &arguments;
  }
  if (parts->size() > 2) {
    const json::Value& quiet = (*parts)[2];
    if (!quiet.isBool()) return entryRefusal(index, "has a quiet flag that is not true or false");
    statement.quiet = quiet.asBool();
  }
  return statement;
}

}  // namespace

std::variant<std::vector<BatchStatement>, std::string> SQLStatementBatch::read(const json::Value* list) {
  std::vector<BatchStatement> statements;
  if (!list) return statements;  // no statements: the call only opens or ends its transaction
  const json::Array* entries = list->ifArray();
  if (!entries) return std::string("the statements are not a JSON list");
  if (entries->size() > kMaxStatements)
    return "a batch holds at most " + std::to_string(kMaxStatements) + " statements, not " +
           std::to_string(entries->size());
  statements.reserve(entries->size());
  for (size_t i = 0; i < entries->size(); ++i) {
    auto entry = readEntry((*entries)[i], i);
    if (auto* why = std::get_if<std::string>(&entry)) return std::move(*why);
    statements.push_back(std::get<BatchStatement>(entry));
  }
  return statements;
}

}  // namespace tavero::modules::sql
