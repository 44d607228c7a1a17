#include "common/mdlCommon.h"

#include "common/ValueText.h"
#include "common/VbNumeric.h"

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QLocale>
#include <QStandardPaths>
#include <QStringList>

#include <algorithm>
#include <charconv>
#include <cmath>
#include <vector>

#ifdef Q_OS_UNIX
#include <fcntl.h>
#include <unistd.h>
#endif

namespace mdlCommon {

using namespace valuetext;

namespace {

// Replaces every occurrence of from by to, left to right, without rescanning
// what was put in.
void replaceAll(QString& text, const QString& from, const QString& to)
{
    text.replace(from, to, Qt::CaseSensitive);
}

} // namespace

QString FormatTemplate(const QString& tmpl, const QVariantList& args)
{
    QString result = tmpl;
    for (int i = 0; i < args.size(); ++i) {
        QString text;
        if (!plainText(args.at(i), text))
            continue; // no text: the placeholder stays
        replaceAll(result, u'{' + QString::number(i + 1) + u'}', text);
    }
    replaceAll(result, QStringLiteral("{CRLF}"), QStringLiteral("\r\n"));
    replaceAll(result, QStringLiteral("{crlf}"), QStringLiteral("\r\n"));
    return result;
}

void SplitPathName(const QString& pathFile, QString& folder, QString& fileName, QString& baseName,
                   QString& extension, PathStyle style)
{
    folder.clear();
    fileName.clear();
    baseName.clear();
    extension.clear();
    if (style == PathStyle::Windows && TrimBlanks(pathFile).endsWith(u':')) {
        folder = pathFile;
        return;
    }
    const QChar separator = style == PathStyle::Windows ? u'\\' : u'/';
    const int lastSeparator = pathFile.lastIndexOf(separator);
    folder = pathFile.left(lastSeparator + 1);
    fileName = pathFile.mid(lastSeparator + 1);
    const int dot = fileName.lastIndexOf(u'.');
    if (dot < 0) {
        baseName = fileName;
    } else {
        baseName = fileName.left(dot);
        extension = fileName.mid(dot + 1);
    }
}

QString TrimBlanks(const QString& text)
{
    qsizetype begin = 0;
    qsizetype end = text.size();
    while (begin < end && text.at(begin) == QLatin1Char(' '))
        ++begin;
    while (end > begin && text.at(end - 1) == QLatin1Char(' '))
        --end;
    return text.mid(begin, end - begin);
}

bool IsControlCharacter(QChar c)
{
    return c.unicode() < 0x20 || c.unicode() == 0x7f;
}

QString ShowControlCharacters(QString text)
{
    for (QChar& c : text) {
        if (IsControlCharacter(c))
            c = QChar::ReplacementCharacter;
    }
    return text;
}

QString ValueToText(const QVariant& value, const QString& format, const QString& nullText)
{
    QString text;
    if (!plainText(value, text)) {
        if (value.isNull() || value.typeId() == QMetaType::QDate || value.typeId() == QMetaType::QDateTime ||
            value.typeId() == QMetaType::QTime)
            return nullText;
        return QString();
    }
    if (format.isEmpty())
        return text;

    switch (value.typeId()) {
    case QMetaType::QDate:
        return formatDate(QDateTime(value.toDate(), QTime(0, 0)), format);
    case QMetaType::QDateTime:
        return formatDate(value.toDateTime(), format);
    case QMetaType::QTime:
        return formatDate(QDateTime(zeroDate, value.toTime()), format);
    default:
        break;
    }
    double number = 0.0;
    if (ov::readNumber(value, number) == ov::NumberRead::Ok)
        return formatNumber(number, format);
    return text;
}

int ArrayUpperBound(const QVariant& value)
{
    switch (value.typeId()) {
    case QMetaType::QVariantList:
        return int(value.toList().size()) - 1;
    case QMetaType::QStringList:
        return int(value.toStringList().size()) - 1;
    default:
        return -1;
    }
}

QString GetMyDocumentsPath()
{
    const QString location = QStandardPaths::writableLocation(QStandardPaths::DocumentsLocation);
    if (location.isEmpty())
        return QString();
    QString path = QDir::toNativeSeparators(location);
    if (!path.endsWith(QDir::separator()))
        path += QDir::separator();
    return path;
}

void SyncFolder(const QString& folder)
{
#ifdef Q_OS_UNIX
    const int dir = ::open(QFile::encodeName(folder).constData(), O_RDONLY | O_DIRECTORY);
    if (dir >= 0) {
        ::fsync(dir);
        ::close(dir);
    }
#else
    Q_UNUSED(folder);
#endif
}

} // namespace mdlCommon
