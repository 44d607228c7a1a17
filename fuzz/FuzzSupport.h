#pragma once

// Shared pieces of the fuzz targets: a quiet user-interface port, a scratch
// folder that serves as the program folder, and writing an input to a file.

#include "common/UiPort.h"
#include "common/mdlOVSqlUpdateDB.h"

#include <QByteArray>
#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QString>
#include <QStringList>
#include <QTemporaryDir>

#include <cstdio>
#include <cstdlib>
#include <unistd.h>

namespace ovfuzz {

// Answers every question with No or Cancel and shows nothing; keeps the
// texts it was given since the last clear(), for properties about them.
class QuietUi : public ov::UiPort
{
public:
    ov::MsgAnswer message(const QString& text, ov::MsgStyle style) override
    {
        texts.append(text);
        return style == ov::MsgStyle::InformationOkCancel ? ov::MsgAnswer::Cancel
               : style == ov::MsgStyle::QuestionYesNo     ? ov::MsgAnswer::No
                                                          : ov::MsgAnswer::Ok;
    }
    void pumpEvents() override {}
    void setBusyPointer(bool) override {}
    void note(const QString& text) override { texts.append(text); }

    QStringList texts;
};

// The scratch folder, with a trailing separator. It is the program folder of
// the run, and the update log in it is /dev/null so that a long run does not
// fill the disk.
inline const QString& scratch()
{
    static QTemporaryDir dir(QDir::tempPath() + QStringLiteral("/ovfuzz-XXXXXX"));
    static const QString path = dir.path() + QLatin1Char('/');
    return path;
}

// The user-interface port of every target.
inline QuietUi& quietUi()
{
    static QuietUi quiet;
    return quiet;
}

inline void init(int* argc, char*** argv)
{
    static QCoreApplication app(*argc, *argv);
    ov::setUi(&quietUi());
    mdlOVSqlUpdateDB::gstrAppPath = scratch();
    const QByteArray log = QFile::encodeName(scratch() + QStringLiteral("UpdateDBSqlLog.Txt"));
    if (symlink("/dev/null", log.constData()) != 0)
        std::perror("symlink");
    // Statements of a fuzzed script that name files (ATTACH, VACUUM INTO)
    // make them in the scratch folder, not in the caller's.
    if (chdir(QFile::encodeName(scratch()).constData()) != 0)
        std::perror("chdir");
}

// Writes bytes to name in the scratch folder and returns the path.
inline QString writeFile(const QString& name, const char* data, size_t size)
{
    const QString path = scratch() + name;
    std::FILE* f = std::fopen(QFile::encodeName(path).constData(), "wb");
    if (!f)
        std::abort();
    if (size && std::fwrite(data, 1, size, f) != size)
        std::abort();
    std::fclose(f);
    return path;
}

// A failed property: print what and stop, so libFuzzer keeps the input.
[[noreturn]] inline void fail(const char* what, const QString& detail = {})
{
    std::fprintf(stderr, "property failed: %s %s\n", what, qPrintable(detail));
    std::abort();
}

} // namespace ovfuzz
