#include "support/ScopedProgramFolder.h"

#include "common/Clock.h"
#include "common/mdlOVSqlUpdateDB.h"
#include "data/ServerAdmin.h"
#include "support/CliProgram.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <gtest/gtest.h>

namespace ovtest {

ScopedProgramFolder::ScopedProgramFolder()
    : m_savedAppPath(mdlOVSqlUpdateDB::gstrAppPath), m_savedUserPath(mdlOVSqlUpdateDB::gstrUserPath),
      m_savedEngineFolder(ov::ServerAdmin::programFolder())
{
    EXPECT_TRUE(m_dir.isValid()) << m_dir.errorString().toStdString();
    pointAt(m_dir.path());
}

ScopedProgramFolder::~ScopedProgramFolder()
{
    if (m_clockFixed)
        ov::Clock::reset();
    mdlOVSqlUpdateDB::gstrAppPath = m_savedAppPath;
    mdlOVSqlUpdateDB::gstrUserPath = m_savedUserPath;
    ov::ServerAdmin::setProgramFolder(m_savedEngineFolder);
}

void ScopedProgramFolder::pointAt(const QString& folder)
{
    QString path = QDir::toNativeSeparators(folder);
    if (!path.endsWith(QDir::separator()))
        path += QDir::separator();
    // Start-up sets both from the same folder; so does a test.
    mdlOVSqlUpdateDB::gstrAppPath = path;
    ov::ServerAdmin::setProgramFolder(path);
}

bool ScopedProgramFolder::copyDist()
{
    const bool copied = CopyDist(m_dir.path());
    EXPECT_TRUE(copied) << "copying dist/ into " << m_dir.path().toStdString();
    return copied;
}

bool ScopedProgramFolder::copyDist(const QStringList& names)
{
    bool copied = true;
    for (const QString& name : names) {
        const QString to = filePath(name);
        QFile::remove(to);
        if (!QDir().mkpath(QFileInfo(to).path()) ||
            !QFile::copy(QStringLiteral(OV_SOURCE_DIR "/dist/") + name, to)) {
            ADD_FAILURE() << "copying dist/" << name.toStdString();
            copied = false;
        }
    }
    return copied;
}

QString ScopedProgramFolder::makeServer(const QString& name)
{
    EXPECT_TRUE(QDir(m_dir.path()).mkpath(name)) << name.toStdString();
    return QStringLiteral("sqlite:") + filePath(name);
}

QString ScopedProgramFolder::makeUserFolder(const QString& name)
{
    const QString folder = filePath(name);
    EXPECT_TRUE(QDir().mkpath(folder)) << name.toStdString();
    mdlOVSqlUpdateDB::gstrUserPath = QDir::toNativeSeparators(folder) + QDir::separator();
    return folder;
}

void ScopedProgramFolder::fixClock(const QDateTime& t)
{
    ov::Clock::setFixed(t);
    m_clockFixed = true;
}

} // namespace ovtest
