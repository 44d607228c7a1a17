#include "common/CSymbolTable.h"

#include "common/VbError.h"
#include "common/VbNumeric.h"

namespace {

[[noreturn]] void raiseInvalidValue()
{
    throw ov::VbError(ov::vbObjectError + 1020, QStringLiteral("Invalid symbol value"));
}

[[noreturn]] void raiseNotDefined()
{
    throw ov::VbError(ov::vbObjectError + 1022, QStringLiteral("Symbol not defined"));
}

} // namespace

void CSymbolTable::Add(const QString& sName, const QVariant& nValue)
{
    if (IsSymbolDefined(sName))
        throw ov::VbError(ov::vbObjectError + 1021, QStringLiteral("Symbol already defined"));
    if (!ov::isNumeric(nValue))
        raiseInvalidValue();
    m_symbols.insert(key(sName), nValue);
}

void CSymbolTable::Delete(const QString& sName)
{
    m_symbols.remove(key(sName));
}

bool CSymbolTable::IsSymbolDefined(const QString& sName) const
{
    return m_symbols.contains(key(sName));
}

QVariant CSymbolTable::Value(const QString& sName) const
{
    const auto it = m_symbols.constFind(key(sName));
    if (it == m_symbols.constEnd())
        raiseNotDefined();
    return it.value();
}

void CSymbolTable::setValue(const QString& sName, const QVariant& nValue)
{
    if (!IsSymbolDefined(sName))
        raiseNotDefined();
    if (!ov::isNumeric(nValue))
        raiseInvalidValue();
    Delete(sName);
    Add(sName, nValue);
}
