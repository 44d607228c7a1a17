#pragma once

#include "common/UiPort.h"

#include <QPointer>

#include <QLabel>
#include <QProgressBar>

namespace ov {

// The user-interface port of the windows: Qt message boxes with the
// application title as caption, the event loop, the override cursor.
class QtUi : public UiPort
{
public:
    MsgAnswer message(const QString& text, MsgStyle style) override;
    void pumpEvents() override;
    // The busy pointer does not nest: one release restores the normal pointer.
    void setBusyPointer(bool busy) override;
    void note(const QString& text) override;
};

// A window's label lent to an operation as its status label.
class QtStatusLabel : public StatusLabel
{
public:
    explicit QtStatusLabel(QLabel* label) : m_label(label) {}
    void setCaption(const QString& text) override;
    QString caption() const override;

private:
    QPointer<QLabel> m_label;
};

// A window's progress bar lent to an operation.
class QtProgressBar : public ProgressBar
{
public:
    explicit QtProgressBar(QProgressBar* bar) : m_bar(bar) {}
    void setMaximum(int maximum) override;
    int maximum() const override;
    void setValue(int value) override;
    int value() const override;

private:
    QPointer<QProgressBar> m_bar;
};

} // namespace ov
