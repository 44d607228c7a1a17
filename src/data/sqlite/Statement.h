#pragma once

#include <sqlite3.h>

#include <utility>

namespace ov::embedded {

// A prepared statement that finalizes itself: every way out of the code that
// prepared it, early returns and failures included, lets it go.
class Statement
{
public:
    Statement() = default;
    ~Statement() { sqlite3_finalize(m_stmt); }
    Statement(Statement&& other) noexcept : m_stmt(std::exchange(other.m_stmt, nullptr)) {}
    Statement& operator=(Statement&& other) noexcept
    {
        if (this != &other) {
            sqlite3_finalize(m_stmt);
            m_stmt = std::exchange(other.m_stmt, nullptr);
        }
        return *this;
    }
    Statement(const Statement&) = delete;
    Statement& operator=(const Statement&) = delete;

    // Prepares the first statement of sql (bytes long, or up to its NUL when
    // negative) in place of the one held; tail, when given, receives where
    // the next statement starts. SQLite's result code; on success without a
    // statement (only blanks or comments), the statement stays empty.
    int prepare(sqlite3* db, const char* sql, int bytes = -1, const char** tail = nullptr)
    {
        sqlite3_finalize(m_stmt);
        m_stmt = nullptr;
        const int rc = sqlite3_prepare_v2(db, sql, bytes, &m_stmt, tail);
        if (rc != SQLITE_OK) {
            sqlite3_finalize(m_stmt);
            m_stmt = nullptr;
        }
        return rc;
    }

    sqlite3_stmt* get() const { return m_stmt; }
    explicit operator bool() const { return m_stmt != nullptr; }
    // Finalizes the statement now.
    void clear()
    {
        sqlite3_finalize(m_stmt);
        m_stmt = nullptr;
    }

private:
    sqlite3_stmt* m_stmt = nullptr;
};

} // namespace ov::embedded
