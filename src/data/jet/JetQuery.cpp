#include "data/jet/JetQuery.h"

#include "data/DataBackend.h"
#include "data/jet/JetFile.h"

namespace ov {

namespace {

class Lexer
{
public:
    explicit Lexer(const QString& text) : m_text(text) {}

    void skipBlanks()
    {
        while (m_pos < m_text.size() && m_text[m_pos].isSpace())
            ++m_pos;
    }
    bool atEnd()
    {
        skipBlanks();
        return m_pos >= m_text.size();
    }
    // A keyword, compared without case, that is not the start of a longer word.
    bool keyword(const char* word)
    {
        skipBlanks();
        const QLatin1String w(word);
        if (m_text.mid(m_pos, w.size()).compare(w, Qt::CaseInsensitive) != 0)
            return false;
        const int after = m_pos + int(w.size());
        if (after < m_text.size() && isNameChar(m_text[after]))
            return false;
        m_pos = after;
        return true;
    }
    bool symbol(QChar c)
    {
        skipBlanks();
        if (m_pos < m_text.size() && m_text[m_pos] == c) {
            ++m_pos;
            return true;
        }
        return false;
    }
    // A name: [anything, with ]] for ]] or a run of letters, digits and "_".
    bool name(QString& out)
    {
        skipBlanks();
        out.clear();
        if (m_pos < m_text.size() && m_text[m_pos] == QLatin1Char('[')) {
            for (int i = m_pos + 1; i < m_text.size(); ++i) {
                if (m_text[i] != QLatin1Char(']')) {
                    out += m_text[i];
                } else if (i + 1 < m_text.size() && m_text[i + 1] == QLatin1Char(']')) {
                    out += QLatin1Char(']');
                    ++i;
                } else {
                    m_pos = i + 1;
                    return !out.isEmpty();
                }
            }
            return false;
        }
        while (m_pos < m_text.size() && isNameChar(m_text[m_pos]))
            out += m_text[m_pos++];
        return !out.isEmpty() && !out[0].isDigit();
    }
    // 'text' with '' for a quote, or a decimal number with an optional sign.
    bool literal(QVariant& out)
    {
        skipBlanks();
        if (m_pos < m_text.size() && m_text[m_pos] == QLatin1Char('\'')) {
            QString s = QLatin1String("");
            for (int i = m_pos + 1; i < m_text.size(); ++i) {
                if (m_text[i] != QLatin1Char('\'')) {
                    s += m_text[i];
                } else if (i + 1 < m_text.size() && m_text[i + 1] == QLatin1Char('\'')) {
                    s += QLatin1Char('\'');
                    ++i;
                } else {
                    m_pos = i + 1;
                    out = s;
                    return true;
                }
            }
            return false;
        }
        int end = m_pos;
        if (end < m_text.size() && (m_text[end] == QLatin1Char('-') || m_text[end] == QLatin1Char('+')))
            ++end;
        while (end < m_text.size() && (m_text[end].isDigit() || m_text[end] == QLatin1Char('.')))
            ++end;
        bool ok = false;
        const double v = m_text.mid(m_pos, end - m_pos).toDouble(&ok);
        if (!ok)
            return false;
        m_pos = end;
        out = v;
        return true;
    }
    QString rest() const { return m_text.mid(m_pos).trimmed(); }

private:
    static bool isNameChar(QChar c) { return c.isLetterOrNumber() || c == QLatin1Char('_'); }

    const QString& m_text;
    int m_pos = 0;
};

} // namespace

bool parseJetQuery(const QString& text, JetQuery& query, DataError& error)
{
    query = JetQuery();
    Lexer lex(text);
    auto syntax = [&](const QString& what) {
        setDataError(
            error, JetErr::SyntaxError,
            QStringLiteral("Syntax error in the statement (%1). The single-user database file is "
                           "read with SELECT columns FROM table [WHERE column = value AND …] only: %2")
                .arg(what, text.left(200)),
            QStringLiteral("Microsoft JET Database Engine"));
        return false;
    };
    if (!lex.keyword("SELECT"))
        return syntax(QStringLiteral("expected SELECT"));
    if (!lex.symbol(QLatin1Char('*'))) {
        do {
            QString column;
            if (!lex.name(column))
                return syntax(QStringLiteral("expected a column name or *"));
            query.columns << column;
        } while (lex.symbol(QLatin1Char(',')));
    }
    if (!lex.keyword("FROM") || !lex.name(query.table))
        return syntax(QStringLiteral("expected FROM and a table name"));
    if (lex.keyword("WHERE")) {
        do {
            JetCondition c;
            if (!lex.name(c.column))
                return syntax(QStringLiteral("expected a column name after WHERE or AND"));
            if (!lex.symbol(QLatin1Char('=')))
                return syntax(QStringLiteral("expected = after %1").arg(c.column));
            if (!lex.literal(c.literal))
                return syntax(QStringLiteral("expected a quoted text or a number after %1 =").arg(c.column));
            query.conditions << c;
        } while (lex.keyword("AND"));
    }
    lex.symbol(QLatin1Char(';'));
    if (!lex.atEnd())
        return syntax(QStringLiteral("unexpected text '%1'").arg(lex.rest().left(40)));
    return true;
}

} // namespace ov
