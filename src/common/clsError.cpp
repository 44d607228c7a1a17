#include "common/clsError.h"

namespace mdlCommon {

std::unique_ptr<clsError> gobjError;

void SetError(const QString& desc, const QString& numberText, const QString& source)
{
    gobjError = std::make_unique<clsError>();
    gobjError->setErrDesc(desc);
    bool ok = false;
    const qint32 number = numberText.trimmed().toInt(&ok, 10);
    gobjError->setErrNumber(ok ? number : 0);
    gobjError->setErrSource(source);
}

void SetErrorContext(const QString& module, const QString& function, const QString& msg,
                     const QString& content, bool /*log*/)
{
    if (!gobjError)
        gobjError = std::make_unique<clsError>();
    gobjError->setStrMoudle(module);
    gobjError->setStrContent(content);
    gobjError->setStrFunction(function);
    gobjError->setStrMsg(msg);
}

QString GetErrorText(bool clear)
{
    if (!gobjError)
        return QString();
    const QString crlf = QStringLiteral("\r\n");
    QString text = gobjError->strMsg();
    if (!gobjError->strContent().isEmpty())
        text += crlf + gobjError->strContent() + crlf;
    text += crlf + crlf + QStringLiteral("错误编号:") + QString::number(gobjError->ErrNumber()) + crlf;
    text += QStringLiteral("错误描述:") + gobjError->ErrDesc() + crlf;
    if (clear)
        gobjError.reset();
    return text;
}

void ClearError()
{
    gobjError.reset();
}

void LogError(const QString& /*module*/, const QString& /*function*/, const QString& /*msg*/,
              const QString& /*content*/)
{}

} // namespace mdlCommon
