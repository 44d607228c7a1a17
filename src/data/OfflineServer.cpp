#include "data/OfflineServer.h"

#include "data/DataBackend.h"
#include "data/odbc/MssqlStatements.h"

#include <deque>

namespace ov {

namespace {

// The rows of an answer, handed out in order.
class AnswerCursor : public CursorBackend
{
public:
    AnswerCursor(ConnectionBackend* owner, QVector<ColumnInfo> columns, std::deque<QVector<QVariant>> rows)
        : CursorBackend(owner), m_columns(std::move(columns)), m_rows(std::move(rows))
    {}
    ~AnswerCursor() override { detach(); }
    const QVector<ColumnInfo>& columns() const override { return m_columns; }
    Fetch fetch(QVector<QVariant>& row, DataError&) override
    {
        if (m_rows.empty())
            return Fetch::End;
        row = m_rows.front();
        m_rows.pop_front();
        return Fetch::Row;
    }

protected:
    void release() override { m_rows.clear(); }

private:
    QVector<ColumnInfo> m_columns;
    std::deque<QVector<QVariant>> m_rows;
};

ColumnInfo column(const QString& name, int type)
{
    ColumnInfo c;
    c.name = name;
    c.type = type;
    return c;
}

class OfflineBackend : public ConnectionBackend
{
public:
    explicit OfflineBackend(OfflineAnswers answers) : m_answers(std::move(answers)) {}
    ~OfflineBackend() override { close(); }

    // The statements are SQL Server's, as the ODBC engine's are.
    QString kind() const override { return QStringLiteral("odbc"); }
    void setCommandTimeout(int) override {}
    bool execute(const QString&, DataError&) override { return true; }
    std::unique_ptr<CursorBackend> query(const QString& text, DataError& error) override
    {
        // The reads are told apart by the statements' fixed beginnings; the
        // values in them (names, paths) do not change the answer.
        const QString lockStart =
            mssql::taskLockStatement(QString()).section(QStringLiteral("@Resource"), 0, 0);
        if (text.startsWith(lockStart))
            return answer({column(QStringLiteral("result"), adInteger)}, {{QVariant(0)}});
        if (text == mssql::listDatabasesStatement()) {
            std::deque<QVector<QVariant>> rows;
            for (const QString& name : std::as_const(m_answers.databases))
                rows.push_back({name});
            return answer({column(QStringLiteral("name"), adVarWChar)}, std::move(rows));
        }
        if (text.startsWith(QStringLiteral("RESTORE HEADERONLY "))) {
            // The server's words for a file that is not there (3201,
            // operating system error 2).
            error.clear();
            error.number = 3201;
            error.description = QStringLiteral("Cannot open backup device. Operating system error 2(The "
                                               "system cannot find the file specified.).");
            error.source = QStringLiteral("Microsoft OLE DB Provider for SQL Server");
            return nullptr;
        }
        if (text.startsWith(QStringLiteral("RESTORE FILELISTONLY "))) {
            std::deque<QVector<QVariant>> rows;
            for (const BackupFileInfo& f : std::as_const(m_answers.backupFiles))
                rows.push_back({f.logicalName, f.physicalName, f.type});
            return answer({column(QStringLiteral("LogicalName"), adVarWChar),
                           column(QStringLiteral("PhysicalName"), adVarWChar),
                           column(QStringLiteral("Type"), adVarWChar)},
                          std::move(rows));
        }
        setDataError(error, DataErr::InvalidArgument,
                     QStringLiteral("没有连接服务器（--offline），无法回答这一查询：%1").arg(text),
                     QStringLiteral("Orvane"));
        return nullptr;
    }

protected:
    void closeConnection() override {}

private:
    std::unique_ptr<CursorBackend> answer(QVector<ColumnInfo> columns, std::deque<QVector<QVariant>> rows)
    {
        return std::make_unique<AnswerCursor>(this, std::move(columns), std::move(rows));
    }

    OfflineAnswers m_answers;
};

} // namespace

std::unique_ptr<ConnectionBackend> openOfflineBackend(const OfflineAnswers& answers)
{
    return std::make_unique<OfflineBackend>(answers);
}

} // namespace ov
