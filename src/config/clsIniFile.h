#pragma once

#include <QList>
#include <QPair>
#include <QString>
#include <QStringList>

// Reader and writer of a sectioned profile file ("[section]" lines followed by
// "key=value" lines) in code page 936, or in UTF-8 when the file begins with a
// UTF-8 byte-order mark.
//
// Reading: section and key names match without regard to case; the first
// section of a name and the first key of a name in it win; a value loses the
// blanks around it and a pair of matching single or double quotes; lines
// starting with ";" or "#" are comments. A missing file, section or key reads
// as the default; a key with an empty value reads as empty.
//
// Writing puts a value that begins and ends with the same quote into one
// more pair of double quotes, so that it reads back as itself. It replaces a
// value in place, adds a missing key after the last
// non-blank line of its section and a missing section at the end of the file.
// Every other byte of the file stays as it was, line ends included. Where the
// folder may be written, the new content replaces the file in one rename, so
// the file is never seen half written and a failure leaves it untouched; the
// replacement keeps the owner, group and mode of the file it replaces. A file
// shared with the product's main program may be writable where its folder is
// not, or belong to another user of its group: such a file is written in
// place, keeping its owner, group and mode. A file the writer creates is
// readable and writable by its owner only and has CR LF line ends.
//
// A write holds the file's folder locked (flock) from its reading to its
// writing, so that writers in other processes (other users too) never lose
// each other's values; a read waits for a write under way. Locks other
// programs take on the file itself are not waited for.
//
// Nothing is cached: each call reads the file afresh.
class clsIniFile
{
public:
    QString FileName() const { return m_fileName; }
    void setFileName(const QString& fileName) { m_fileName = fileName; }

    // The value of strKey in strSection, or strValDefault when there is none,
    // as it would come back through a buffer of lngSize code-page bytes: cut to
    // lngSize - 1 bytes without splitting a double-byte character, then to the
    // text before the first NUL, then trimmed of blanks at both ends.
    QString ReadString(const QString& strSection, const QString& strKey, const QString& strValDefault,
                       int lngSize) const;

    // The values of several keys of one section, read as ReadString reads
    // each, all from one reading of the file: never some from before a
    // write and some from after it. keysAndDefaults pairs each key with its
    // default; the values come back in the same order.
    QStringList ReadStrings(const QString& strSection, const QList<QPair<QString, QString>>& keysAndDefaults,
                            int lngSize) const;

    // Sets strKey in strSection to strVal. False, with the file unchanged, when
    // the file or its folder cannot be written, when an existing file cannot be
    // read, or when a name or the value would not stay on its own line: a line
    // break or NUL anywhere, "]" in the section, "=" in the key, an empty
    // name, or a key that would read back as a section header or a comment.
    bool WriteString(const QString& strSection, const QString& strKey, const QString& strVal);

    // Sets several keys of one section in a single replacement of the file:
    // either all of them change or none does. Keys are added in the given
    // order. Same refusals as WriteString.
    bool WriteStrings(const QString& strSection, const QList<QPair<QString, QString>>& keyValues);

    // Why the last write failed (the file's path and the reason); empty after
    // one that succeeded.
    QString lastError() const { return m_error; }

private:
    bool fail(const QString& reason);

    QString m_fileName;
    QString m_error;
};
