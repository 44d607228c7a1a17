#pragma once

#include "update/UpdateScript.h"

#include <QStringList>

#include <gtest/gtest.h>

namespace ovtest {

// The version blocks of the shipped update script, in order: the last is the
// version of a database that the script has brought up to date.
inline QStringList ShippedVersions()
{
    mdlOVSqlUpdateDB::ScriptFile file;
    EXPECT_TRUE(file.open(QStringLiteral(OV_SOURCE_DIR "/dist/OVScriptUpdate.txt")));
    QStringList names;
    while (!file.atEnd()) {
        const QString line = file.readLine();
        const auto kind = mdlOVSqlUpdateDB::ClassifyScriptLine(line);
        if (kind == mdlOVSqlUpdateDB::ScriptLineKind::VersionStart ||
            kind == mdlOVSqlUpdateDB::ScriptLineKind::TransactionalVersionStart)
            names.append(mdlOVSqlUpdateDB::GetMarkerName(line));
    }
    return names;
}

} // namespace ovtest
