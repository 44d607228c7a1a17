#include "config/mdlOVSqlServer.h"

#include "common/UiPort.h"
#include "common/mdlOEMResource.h"
#include "common/mdlOVSqlUpdateDB.h"
#include "config/clsIniFile.h"
#include "config/mdlEncode.h"

#include <QSysInfo>

namespace mdlOVSqlServer {

namespace {

const QString kMain = QStringLiteral("MAIN");
const QString kBackupRestore = QStringLiteral("BACKUPRESTORE");
constexpr int kMainSize = 1000;
constexpr int kPathSize = 255;

clsIniFile configFile()
{
    clsIniFile ini;
    ini.setFileName(ConfigFilePath());
    return ini;
}

// Writes keyValues into section of the configuration file. A failure is
// noted through the user-interface port (the windows log it, the command
// line prints it): the callers go on as the task demands, but the main
// program would otherwise read old values without anyone knowing why.
bool write(const QString& section, const QList<QPair<QString, QString>>& keyValues)
{
    clsIniFile ini = configFile();
    if (ini.WriteStrings(section, keyValues))
        return true;
    ov::ui().note(ini.lastError());
    return false;
}

QString flag(bool value)
{
    return value ? QStringLiteral("1") : QStringLiteral("0");
}

QList<QPair<QString, QString>> mainValues(const QString& server, const QString& database, bool trusted,
                                          const QString& user, const QString& password)
{
    return {
        {QStringLiteral("DBServer"), server},
        {QStringLiteral("DBName"), database},
        {QStringLiteral("DBIsTrustMode"), flag(trusted)},
        {QStringLiteral("DBUser"), user},
        {QStringLiteral("DBPasswd"), mdlEncode::ScrambleText(password, mdlEncode::kConfigKey, true)},
    };
}

} // namespace

QString ConfigFilePath()
{
    return mdlOVSqlUpdateDB::gstrAppPath + QStringLiteral("OrvaneSqlConfig.ini");
}

void ReadMainSettings(QString& server, QString& database, bool& trusted, QString& user, QString& password)
{
    const clsIniFile ini = configFile();
    QString computer = QSysInfo::machineHostName();
    if (computer.isEmpty())
        computer = QStringLiteral("127.0.0.1");
    // One reading of the file for all five: a write between two of them
    // would give a mix of the old and the new connection.
    const QStringList values =
        ini.ReadStrings(kMain,
                        {qMakePair(QStringLiteral("DBServer"), computer),
                         qMakePair(QStringLiteral("DBName"), mdlOEMResource::GetOEMDatabaseName()),
                         qMakePair(QStringLiteral("DBIsTrustMode"), QStringLiteral("1")),
                         qMakePair(QStringLiteral("DBUser"), QStringLiteral("sa")),
                         qMakePair(QStringLiteral("DBPasswd"), QString())},
                        kMainSize);
    server = values.at(0);
    database = values.at(1);
    trusted = values.at(2) == QLatin1String("1");
    user = values.at(3);
    password = mdlEncode::UnscrambleText(values.at(4), mdlEncode::kConfigKey, true);
}

ConnectionSettings ReadMainSettings()
{
    ConnectionSettings s;
    ReadMainSettings(s.server, s.database, s.trusted, s.user, s.password);
    return s;
}

bool WriteMainSettings(const QString& server, const QString& database, bool trusted, const QString& user,
                       const QString& password)
{
    return write(kMain, mainValues(server, database, trusted, user, password));
}

bool WriteUpdateDBResult(bool result)
{
    return write(kMain, {{QStringLiteral("UpdateDBResult"), flag(result)}});
}

bool WriteCreateDBResult(bool result)
{
    return write(kMain, {{QStringLiteral("CreateDBResult"), flag(result)}});
}

bool WriteMainSettingsAndSuccess(const ConnectionSettings& settings, ResultKey key)
{
    auto values =
        mainValues(settings.server, settings.database, settings.trusted, settings.user, settings.password);
    values.append(
        {key == ResultKey::UpdateDB ? QStringLiteral("UpdateDBResult") : QStringLiteral("CreateDBResult"),
         flag(true)});
    return write(kMain, values);
}

bool ReadTrustServerCertificate()
{
    const QString value = configFile()
                              .ReadString(QStringLiteral("OVSQLUPDATEDB"),
                                          QStringLiteral("TrustServerCertificate"), QString(), 10)
                              .trimmed();
    for (const char* yes : {"1", "yes", "true"}) {
        if (value.compare(QLatin1String(yes), Qt::CaseInsensitive) == 0)
            return true;
    }
    return false;
}

QString ReadDefaultPathFile()
{
    return configFile().ReadString(kBackupRestore, QStringLiteral("DEFAULTPATHFILE"), QString(), kPathSize);
}

bool WriteDefaultPathFile(const QString& path)
{
    return write(kBackupRestore, {{QStringLiteral("DEFAULTPATHFILE"), path}});
}

} // namespace mdlOVSqlServer
