#include "data/jet/JetBackend.h"

#include "data/jet/JetFile.h"
#include "data/jet/JetQuery.h"

namespace ov {

namespace {

const char kSource[] = "Microsoft JET Database Engine";

// A condition resolved against the table: the column's position and the
// literal in the column's terms.
struct Filter
{
    int column;
    bool text;
    QString textValue;
    double number;
};

bool isTextType(int adoType)
{
    return adoType == adVarWChar || adoType == adLongVarWChar || adoType == adGUID;
}

bool isNumberType(int adoType)
{
    switch (adoType) {
    case adBoolean:
    case adUnsignedTinyInt:
    case adSmallInt:
    case adInteger:
    case adCurrency:
    case adSingle:
    case adDouble:
    case adNumeric:
        return true;
    default:
        return false;
    }
}

class JetCursor : public CursorBackend
{
public:
    JetCursor(ConnectionBackend* owner, std::unique_ptr<JetTable> table, QVector<int> projection,
              QVector<ColumnInfo> columns, QVector<Filter> filters)
        : CursorBackend(owner), m_table(std::move(table)), m_projection(std::move(projection)),
          m_columns(std::move(columns)), m_filters(std::move(filters))
    {}
    ~JetCursor() override { detach(); }

    const QVector<ColumnInfo>& columns() const override { return m_columns; }

    Fetch fetch(QVector<QVariant>& row, DataError& error) override
    {
        if (!m_table) {
            setDataError(error, DataErr::InvalidConnection, QStringLiteral("The connection has been closed."),
                         QLatin1String(kSource));
            return Fetch::Failed;
        }
        // Every column: the values go straight into row, with no copy.
        QVector<QVariant>& full = m_projection.isEmpty() ? row : m_full;
        for (;;) {
            const Fetch f = m_table->next(&full, error);
            if (f != Fetch::Row)
                return f;
            if (!matches(full))
                continue;
            if (!m_projection.isEmpty()) {
                row.resize(m_projection.size());
                for (int i = 0; i < m_projection.size(); ++i)
                    row[i] = m_full[m_projection[i]];
            }
            return Fetch::Row;
        }
    }

protected:
    void release() override { m_table.reset(); }

private:
    bool matches(const QVector<QVariant>& full) const
    {
        for (const Filter& f : m_filters) {
            const QVariant& v = full[f.column];
            if (!v.isValid())
                return false; // NULL equals nothing
            if (f.text) {
                // Jet compares texts without case.
                if (v.toString().compare(f.textValue, Qt::CaseInsensitive) != 0)
                    return false;
            } else if (m_table->columns()[f.column].type == adBoolean) {
                // Yes is -1 in Jet's arithmetic; any non-zero literal means yes.
                if (v.toBool() != (f.number != 0))
                    return false;
            } else if (v.toDouble() != f.number) {
                return false;
            }
        }
        return true;
    }

    std::unique_ptr<JetTable> m_table;
    QVector<int> m_projection;
    QVector<ColumnInfo> m_columns;
    QVector<Filter> m_filters;
    QVector<QVariant> m_full;
};

int findColumn(const QVector<ColumnInfo>& columns, const QString& name)
{
    for (int i = 0; i < columns.size(); ++i) {
        if (columns[i].name.compare(name, Qt::CaseInsensitive) == 0)
            return i;
    }
    return -1;
}

// True when stored, the password a file holds, is the given one. A given
// password comes from a code page 936 conversion, which turns a byte pair
// that is no character into U+FFFD; the file was written by Windows, whose
// conversion of the same bytes is not known for sure. So U+FFFD in the given
// password matches, in the stored one: U+FFFD, the default characters "?"
// and U+30FB, nothing (the lead byte dropped, its trail byte read as the
// next character), or nothing in place of it and the character after it
// (the pair dropped). Every other character must be equal.
bool passwordMatches(QStringView given, QStringView stored)
{
    const qsizetype at = given.indexOf(QChar::ReplacementCharacter);
    if (at < 0)
        return given == stored;
    if (stored.size() < at || stored.left(at) != given.left(at))
        return false;
    const QStringView restGiven = given.mid(at + 1);
    const QStringView restStored = stored.mid(at);
    if (!restStored.isEmpty()) {
        const QChar c = restStored.front();
        if ((c == QChar::ReplacementCharacter || c == QLatin1Char('?') || c == QChar(0x30FB)) &&
            passwordMatches(restGiven, restStored.mid(1)))
            return true;
    }
    if (passwordMatches(restGiven, restStored))
        return true;
    return !restGiven.isEmpty() && passwordMatches(restGiven.mid(1), restStored);
}

void unknownColumn(DataError& error, const QString& column, const QString& table)
{
    setDataError(error, JetErr::MissingParameter,
                 QStringLiteral("No value given for one or more required parameters: table '%1' has no "
                                "column '%2'.")
                     .arg(table, column),
                 QLatin1String(kSource));
}

} // namespace

JetBackend::JetBackend(std::unique_ptr<JetFile> file) : m_file(std::move(file)) {}

JetBackend::~JetBackend()
{
    close();
}

std::unique_ptr<ConnectionBackend> JetBackend::open(const connstr::Pairs& oledb, DataError& error)
{
    const QString path = connstr::oleDbFind(oledb, QStringLiteral("Data Source"));
    std::unique_ptr<JetFile> file = JetFile::open(path, error);
    if (!file)
        return nullptr;
    const QString given = connstr::oleDbFind(oledb, QStringLiteral("Jet OLEDB:Database Password"));
    if (!file->password().isEmpty() && !passwordMatches(given, file->password())) {
        setDataError(error, JetErr::WrongPassword, QStringLiteral("Not a valid password."),
                     QLatin1String(kSource));
        return nullptr;
    }
    return std::unique_ptr<ConnectionBackend>(new JetBackend(std::move(file)));
}

bool JetBackend::execute(const QString&, DataError& error)
{
    setDataError(error, DataErr::NotSupported,
                 QStringLiteral("Cannot update. The single-user database file is opened read-only."),
                 QLatin1String(kSource));
    return false;
}

std::unique_ptr<CursorBackend> JetBackend::query(const QString& text, DataError& error)
{
    if (!m_file) {
        setDataError(error, DataErr::InvalidConnection, QStringLiteral("The connection has been closed."),
                     QLatin1String(kSource));
        return nullptr;
    }
    JetQuery q;
    if (!parseJetQuery(text, q, error))
        return nullptr;
    std::unique_ptr<JetTable> table = m_file->openTable(q.table, error);
    if (!table)
        return nullptr;
    const QVector<ColumnInfo>& all = table->columns();

    QVector<int> projection;
    QVector<ColumnInfo> columns;
    for (const QString& name : q.columns) {
        const int i = findColumn(all, name);
        if (i < 0) {
            unknownColumn(error, name, table->name());
            return nullptr;
        }
        projection << i;
        columns << all[i];
    }
    if (q.columns.isEmpty())
        columns = all;

    QVector<Filter> filters;
    for (const JetCondition& c : q.conditions) {
        const int i = findColumn(all, c.column);
        if (i < 0) {
            unknownColumn(error, c.column, table->name());
            return nullptr;
        }
        const bool textLiteral = c.literal.typeId() == QMetaType::QString;
        const bool fits = textLiteral ? isTextType(all[i].type) : isNumberType(all[i].type);
        if (!fits) {
            setDataError(
                error, JetErr::TypeMismatch,
                QStringLiteral("Data type mismatch in criteria expression: column '%1' compared with %2.")
                    .arg(all[i].name, textLiteral ? QStringLiteral("a text") : QStringLiteral("a number")),
                QLatin1String(kSource));
            return nullptr;
        }
        filters << Filter{i, textLiteral, textLiteral ? c.literal.toString() : QString(),
                          textLiteral ? 0.0 : c.literal.toDouble()};
    }
    return std::make_unique<JetCursor>(this, std::move(table), projection, columns, filters);
}

bool JetBackend::tableNames(QStringList& names, DataError& error)
{
    names.clear();
    if (!m_file) {
        setDataError(error, DataErr::InvalidConnection, QStringLiteral("The connection has been closed."),
                     QLatin1String(kSource));
        return false;
    }
    names = m_file->tableNames();
    return true;
}

qint64 JetBackend::countRows(const QString& name, DataError& error)
{
    if (!m_file) {
        setDataError(error, DataErr::InvalidConnection, QStringLiteral("The connection has been closed."),
                     QLatin1String(kSource));
        return -1;
    }
    std::unique_ptr<JetTable> table = m_file->openTable(name, error);
    if (!table)
        return -1;
    qint64 count = 0;
    for (;;) {
        switch (table->next(nullptr, error)) {
        case CursorBackend::Fetch::Row:
            ++count;
            break;
        case CursorBackend::Fetch::End:
            return count;
        case CursorBackend::Fetch::Failed:
            return -1;
        }
    }
}

void JetBackend::closeConnection()
{
    m_file.reset();
}

} // namespace ov
