#pragma once

#include <QString>
#include <QStringList>

// How names are written into statements. Every engine quotes its identifiers
// with one of the two forms below; a connection says which one it uses
// (Connection::quoteIdentifier), so an operation never needs to know the
// engine behind it.
namespace ov {

// [name] with "]" doubled: SQL Server and Jet.
QString bracketQuoted(const QString& name);
// "name" with '"' doubled: standard SQL, the embedded engine.
QString doubleQuoted(const QString& name);

// True when name is one well-formed quoted identifier: a double quote, at
// least one character in which every double quote is doubled, a double quote.
bool isQuotedIdentifier(const QString& name);
// The name a database name denotes: the name inside one well-formed quoted
// identifier, with its doubled double quotes single; any other name as typed.
// Every engine's database names follow this one rule.
QString unquotedName(const QString& name);

// INSERT INTO table (c1,c2) VALUES (?,?) for names already quoted, or
// INSERT INTO table DEFAULT VALUES when no column is given.
QString insertStatement(const QString& quotedTable, const QStringList& quotedColumns);

} // namespace ov
