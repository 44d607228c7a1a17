#include "common/UiPort.h"

#include <QCoreApplication>

namespace ov {

namespace {

class SilentUi final : public UiPort
{
public:
    MsgAnswer message(const QString&, MsgStyle style) override
    {
        switch (style) {
        case MsgStyle::QuestionYesNo:
            return MsgAnswer::No;
        case MsgStyle::InformationOkCancel:
            return MsgAnswer::Cancel;
        default:
            return MsgAnswer::Ok;
        }
    }
    void pumpEvents() override {}
    void setBusyPointer(bool) override {}
};

SilentUi g_silent;
UiPort* g_port = &g_silent;
QString g_title;

} // namespace

void UiPort::waitFor(const QString&, const std::function<void()>& work)
{
    work();
}

UiPort& ui()
{
    return *g_port;
}

void setUi(UiPort* port)
{
    g_port = port ? port : &g_silent;
}

MsgAnswer MsgBox(const QString& text, MsgStyle style)
{
    return g_port->message(text, style);
}

QString applicationTitle()
{
    return g_title;
}

void setApplicationTitle(const QString& title)
{
    g_title = title;
}

} // namespace ov
