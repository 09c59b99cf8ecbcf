#include "platform/coredata/detail/SQLiteDatabase.h"

#include <sqlite3.h>

namespace coredata::detail {

namespace {
/// How long a connection waits for another process's write to finish before it reports the
/// store busy: long enough for any single save of this app, short enough not to look hung.
constexpr int kBusyTimeoutMilliseconds = 5000;
}  // namespace

SQLiteStatement::~SQLiteStatement() { sqlite3_finalize(statement_); }

bool SQLiteStatement::bind(const std::vector<foundation::Value>& values) {
  int index = 1;
  for (const auto& value : values) {
    int rc = SQLITE_OK;
    if (value.isAbsent() || value.isNull()) {
      rc = sqlite3_bind_null(statement_, index);
    } else if (const auto* text = value.string()) {
      rc = sqlite3_bind_text(statement_, index, text->data(), static_cast<int>(text->size()), SQLITE_TRANSIENT);
    } else if (const auto* number = value.number()) {
      if (number->isBool()) {
        rc = sqlite3_bind_int64(statement_, index, number->boolValue() ? 1 : 0);
      } else if (auto exact = number->exactInt64(); exact && number->isInteger()) {
        rc = sqlite3_bind_int64(statement_, index, *exact);
      } else {
        rc = sqlite3_bind_double(statement_, index, number->doubleValue());
      }
    } else {
      return false;
    }
    if (rc != SQLITE_OK) return false;
    ++index;
  }
  return true;
}

SQLiteStatement::Step SQLiteStatement::step() {
  switch (sqlite3_step(statement_)) {
    case SQLITE_ROW: return Step::Row;
    case SQLITE_DONE: return Step::Done;
    default: return Step::Failed;
  }
}

std::int64_t SQLiteStatement::columnInt64(int column) const { return sqlite3_column_int64(statement_, column); }

std::string SQLiteStatement::columnText(int column) const {
  const auto* text = sqlite3_column_text(statement_, column);
  return text ? std::string(reinterpret_cast<const char*>(text), sqlite3_column_bytes(statement_, column)) : "";
}

std::unique_ptr<SQLiteDatabase> SQLiteDatabase::open(const std::string& path, std::string* message) {
  sqlite3* db = nullptr;
  const int rc = sqlite3_open_v2(path.c_str(), &db,
                                 SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE | SQLITE_OPEN_FULLMUTEX, nullptr);
  if (rc != SQLITE_OK) {
    if (message) *message = db ? sqlite3_errmsg(db) : sqlite3_errstr(rc);
    sqlite3_close(db);
    return nullptr;
  }
  sqlite3_busy_timeout(db, kBusyTimeoutMilliseconds);
  return std::unique_ptr<SQLiteDatabase>(new SQLiteDatabase(db));
}

SQLiteDatabase::~SQLiteDatabase() { sqlite3_close(db_); }

bool SQLiteDatabase::execute(const std::string& sql) {
  return sqlite3_exec(db_, sql.c_str(), nullptr, nullptr, nullptr) == SQLITE_OK;
}

std::unique_ptr<SQLiteStatement> SQLiteDatabase::prepare(const std::string& sql) {
  sqlite3_stmt* statement = nullptr;
  if (sqlite3_prepare_v2(db_, sql.c_str(), -1, &statement, nullptr) != SQLITE_OK) return nullptr;
  return std::make_unique<SQLiteStatement>(statement);
}

std::int64_t SQLiteDatabase::lastInsertRowid() const { return sqlite3_last_insert_rowid(db_); }

std::string SQLiteDatabase::lastError() const { return sqlite3_errmsg(db_); }

}  // namespace coredata::detail
