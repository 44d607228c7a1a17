#pragma once

#include <QString>
#include <QtGlobal>

#include <memory>

// The record of an error caught deep inside an operation: what the run-time
// error was, where it was caught, and what to tell the user. A plain property
// bag; the functions below fill it and turn it into the text the user sees.
class clsError
{
public:
    qint32 ErrNumber() const { return m_errNumber; }
    void setErrNumber(qint32 value) { m_errNumber = value; }
    QString ErrDesc() const { return m_errDesc; }
    void setErrDesc(const QString& value) { m_errDesc = value; }
    QString ErrSource() const { return m_errSource; }
    void setErrSource(const QString& value) { m_errSource = value; }
    QString strMoudle() const { return m_strMoudle; }
    void setStrMoudle(const QString& value) { m_strMoudle = value; }
    QString strFunction() const { return m_strFunction; }
    void setStrFunction(const QString& value) { m_strFunction = value; }
    QString strMsg() const { return m_strMsg; }
    void setStrMsg(const QString& value) { m_strMsg = value; }
    QString strContent() const { return m_strContent; }
    void setStrContent(const QString& value) { m_strContent = value; }

private:
    qint32 m_errNumber = 0;
    QString m_errDesc;
    QString m_errSource;
    QString m_strMoudle;
    QString m_strFunction;
    QString m_strMsg;
    QString m_strContent;
};

namespace mdlCommon {

// The one error record of the process; empty when no error is pending. A
// procedure that catches an error calls SetError, then SetErrorContext, and
// returns its failure value; the caller that talks to the user shows
// GetErrorText(true).
extern std::unique_ptr<clsError> gobjError;

// Starts a new record (dropping any earlier one) with the error's description,
// number and source. numberText is the number in decimal; a text that is not
// a 32-bit decimal integer records 0.
void SetError(const QString& desc, const QString& numberText, const QString& source);
// Fills where the error was caught and what to show; makes a record first
// when there is none. log has no effect: no log is written.
void SetErrorContext(const QString& module, const QString& function, const QString& msg,
                     const QString& content, bool log = false);
// The text to show: the message, the detail (when there is one) on its own
// line, an empty line, "错误编号:" with the number and "错误描述:" with the
// description, each line ending in CR LF. "" when there is no record. With
// clear the record is dropped afterwards.
QString GetErrorText(bool clear);
// Drops the record.
void ClearError();
// A logging entry point that writes nothing and changes nothing.
void LogError(const QString& module, const QString& function, const QString& msg, const QString& content);

} // namespace mdlCommon
