#pragma once
// A thin owner of an SQLite connection and its prepared statements. Errors come back as SQLite's
// own message; the context turns them into its errors.
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "platform/foundation/Value.h"

struct sqlite3;
struct sqlite3_stmt;

namespace coredata::detail {

class SQLiteStatement {
 public:
  enum class Step { Row, Done, Failed };
  explicit SQLiteStatement(sqlite3_stmt* statement) : statement_(statement) {}
  ~SQLiteStatement();
  SQLiteStatement(const SQLiteStatement&) = delete;
  SQLiteStatement& operator=(const SQLiteStatement&) = delete;

  /// Binds the values in order: null or absent, numbers (bools and integers as integers), strings.
  /// False for any other kind of value.
  bool bind(const std::vector<foundation::Value>& values);
  Step step();
  std::int64_t columnInt64(int column) const;
  std::string columnText(int column) const;

 private:
  sqlite3_stmt* statement_;
};

class SQLiteDatabase {
 public:
  /// Opens (creating) the database at `path`; `*message` gets SQLite's reason on failure.
  static std::unique_ptr<SQLiteDatabase> open(const std::string& path, std::string* message);
  ~SQLiteDatabase();
  SQLiteDatabase(const SQLiteDatabase&) = delete;
  SQLiteDatabase& operator=(const SQLiteDatabase&) = delete;

  /// Runs statements without results; false with lastError() on failure.
  bool execute(const std::string& sql);
  /// A prepared statement, or null with lastError().
  std::unique_ptr<SQLiteStatement> prepare(const std::string& sql);
  std::int64_t lastInsertRowid() const;
  std::string lastError() const;

 private:
  explicit SQLiteDatabase(sqlite3* db) : db_(db) {}
  sqlite3* db_;
};

}  // namespace coredata::detail
