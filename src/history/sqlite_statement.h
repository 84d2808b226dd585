#pragma once

#include <cstdint>
#include <sqlite3.h>
#include <string>
#include <string_view>

namespace vireo {

// A prepared statement, prepared once and reset after each use.
class SqliteStatement
{
public:
    SqliteStatement() = default;
    SqliteStatement(sqlite3* db, const char* sql) { Prepare(db, sql); }
    ~SqliteStatement() { sqlite3_finalize(m_stmt); }
    SqliteStatement(const SqliteStatement&) = delete;
    SqliteStatement& operator=(const SqliteStatement&) = delete;

    bool Prepare(sqlite3* db, const char* sql)
    {
        sqlite3_finalize(m_stmt);
        m_stmt = nullptr;
        return sqlite3_prepare_v3(db, sql, -1, SQLITE_PREPARE_PERSISTENT, &m_stmt, nullptr) ==
               SQLITE_OK;
    }
    bool Valid() const { return m_stmt != nullptr; }
    sqlite3_stmt* Get() const { return m_stmt; }

    // Binds by position, 1-based.
    SqliteStatement& Bind(int index, int64_t value)
    {
        sqlite3_bind_int64(m_stmt, index, value);
        return *this;
    }
    SqliteStatement& Bind(int index, double value)
    {
        sqlite3_bind_double(m_stmt, index, value);
        return *this;
    }
    SqliteStatement& Bind(int index, std::string_view text)
    {
        sqlite3_bind_text(m_stmt, index, text.data(), static_cast<int>(text.size()),
                          SQLITE_TRANSIENT);
        return *this;
    }
    SqliteStatement& BindBlob(int index, const void* data, size_t size)
    {
        sqlite3_bind_blob(m_stmt, index, data, static_cast<int>(size), SQLITE_TRANSIENT);
        return *this;
    }

    // SQLITE_ROW, SQLITE_DONE or an error code.
    int Step() { return sqlite3_step(m_stmt); }
    // Runs a statement without rows and resets it; the result code.
    int Run()
    {
        const int rc = sqlite3_step(m_stmt);
        sqlite3_reset(m_stmt);
        sqlite3_clear_bindings(m_stmt);
        return rc == SQLITE_ROW ? SQLITE_DONE : rc;
    }
    void Reset()
    {
        sqlite3_reset(m_stmt);
        sqlite3_clear_bindings(m_stmt);
    }

    int64_t Int(int column) const { return sqlite3_column_int64(m_stmt, column); }
    double Real(int column) const { return sqlite3_column_double(m_stmt, column); }
    bool IsNull(int column) const { return sqlite3_column_type(m_stmt, column) == SQLITE_NULL; }
    std::string Text(int column) const
    {
        const auto* text = sqlite3_column_text(m_stmt, column);
        return text ? std::string(reinterpret_cast<const char*>(text),
                                  static_cast<size_t>(sqlite3_column_bytes(m_stmt, column)))
                    : std::string();
    }
    std::string_view Blob(int column) const
    {
        const void* data = sqlite3_column_blob(m_stmt, column);
        return data ? std::string_view(static_cast<const char*>(data),
                                       static_cast<size_t>(sqlite3_column_bytes(m_stmt, column)))
                    : std::string_view();
    }

private:
    sqlite3_stmt* m_stmt = nullptr;
};

} // namespace vireo
