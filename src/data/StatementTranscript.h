#pragma once

#include <QString>
#include <QStringList>

// The statements a run would send, in order, as a script a person can read
// and run in a query window: each batch followed by a line "GO", comments as
// "--" lines. Written as UTF-8 with a byte-order mark and CR LF line ends,
// which SQL Server's query tools read as such.
namespace ov {

class StatementTranscript
{
public:
    // A comment: one "-- " line per line of text.
    void addComment(const QString& text);
    // A batch: its text as sent, then a line "GO".
    void addBatch(const QString& batch);
    QString text() const;
    // Writes the transcript to path, which must not exist yet: nothing is
    // overwritten, and the file appears whole or not at all. A batch that a
    // query window would cut (see cutByQueryTool) is refused: no file is
    // written. False with *error saying why.
    bool writeNew(const QString& path, QString* error) const;

    // True when a line of batch would end a batch in a query window.
    static bool cutByQueryTool(const QString& batch);

private:
    QString m_text;
    bool m_cut = false; // a batch would be cut by a query window
};

} // namespace ov
