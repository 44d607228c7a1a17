#pragma once

#include "data/ConnectionString.h"
#include "data/DataBackend.h"

#include <QStringList>

#include <memory>

namespace ov {

class JetFile;

// The engine behind "Provider=Microsoft.Jet.OLEDB.4.0" connections: a Jet 4
// database file opened read-only. Queries are the SELECTs of JetQuery.h,
// answered by reading the table forward and filtering its rows here;
// statements that would change the file are refused.
class JetBackend : public ConnectionBackend
{
public:
    // Opens the file named by the string's "Data Source". When the file has a
    // database password, "Jet OLEDB:Database Password" must match it. The
    // user and password of Open are the workgroup login, which a file without
    // user-level security does not check.
    static std::unique_ptr<ConnectionBackend> open(const connstr::Pairs& oledb, DataError& error);
    ~JetBackend() override;

    QString kind() const override { return QStringLiteral("jet"); }
    void setCommandTimeout(int) override {}
    bool execute(const QString& batch, DataError& error) override;
    std::unique_ptr<CursorBackend> query(const QString& text, DataError& error) override;

    // The user tables of the file, in catalog order.
    bool tableNames(QStringList& names, DataError& error) override;
    // Counts the rows without decoding them.
    qint64 countRows(const QString& table, DataError& error) override;

protected:
    void closeConnection() override;

private:
    explicit JetBackend(std::unique_ptr<JetFile> file);
    std::unique_ptr<JetFile> m_file;
};

} // namespace ov
