#pragma once

#include <QHash>
#include <QString>
#include <QVariant>
#include <QtGlobal>

// Named numeric values that expressions of the evaluator may use. Names are
// compared without regard to letter case: Rate and RATE are one symbol. Every
// stored value is a number or a text that reads as one (ov::isNumeric).
// Errors are raised as ov::VbError.
class CSymbolTable
{
public:
    // Adds a new symbol. Raises "Symbol already defined" when the name is
    // taken (in any letter case) and "Invalid symbol value" when the value is
    // not a number.
    void Add(const QString& sName, const QVariant& nValue);
    // Removes the symbol; a name that is not defined is ignored.
    void Delete(const QString& sName);
    bool IsSymbolDefined(const QString& sName) const;
    // The stored value as it was given. Raises "Symbol not defined".
    QVariant Value(const QString& sName) const;
    // Replaces the value of a defined symbol. Raises "Symbol not defined" or
    // "Invalid symbol value"; on an error the old value stays.
    void setValue(const QString& sName, const QVariant& nValue);
    qint16 Count() const { return static_cast<qint16>(m_symbols.size()); }

private:
    static QString key(const QString& name) { return name.toCaseFolded(); }

    QHash<QString, QVariant> m_symbols;
};
