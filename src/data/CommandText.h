#pragma once

#include "data/DataBackend.h"
#include "data/DataError.h"

#include <QString>

namespace ov {

// True when a command text can be sent. The engines read a statement text
// only up to a NUL character, so whatever follows one (a WHERE clause, the
// next statement) would be dropped without a word: such a text is refused
// whole, before anything of it runs, with the error filled in.
inline bool acceptCommandText(const QString& text, DataError& error)
{
    if (!text.contains(QChar(0)))
        return true;
    setDataError(error, DataErr::InvalidArgument,
                 QStringLiteral("The command text holds a NUL character; nothing of it was sent."));
    return false;
}

} // namespace ov
