#pragma once

#include <QApplication>
#include <QList>
#include <QPointer>
#include <QTest>
#include <QWidget>

#include <functional>

#include <gtest/gtest.h>

#include "support/Wait.h"

namespace ovtest {

// The top-level widgets of class W, in the application's order.
template <typename W> QList<W*> TopLevels()
{
    QList<W*> out;
    for (QWidget* w : QApplication::topLevelWidgets()) {
        if (auto* window = qobject_cast<W*>(w))
            out.append(window);
    }
    return out;
}

// The first top-level widget of class W, or null.
template <typename W> W* TopLevel()
{
    return TopLevels<W>().value(0);
}

// Deletes every top-level widget of the classes Ws. Deleting a window deletes
// the top-level widgets it owns (a combo box's popup), so each is looked at
// only while it still lives.
template <typename... Ws> void DeleteTopLevels()
{
    QList<QPointer<QWidget>> windows;
    for (QWidget* w : QApplication::topLevelWidgets()) {
        if ((qobject_cast<Ws*>(w) || ...))
            windows.append(w);
    }
    for (const QPointer<QWidget>& w : windows)
        delete w.data();
}

// The child of w of class T named name; a missing one fails the test.
template <typename T> T* Child(QWidget* w, const char* name)
{
    T* c = w ? w->findChild<T*>(QLatin1String(name)) : nullptr;
    EXPECT_NE(c, nullptr) << name;
    return c;
}

// The object name of the widget that has the keyboard focus, for messages.
inline std::string FocusName()
{
    const QWidget* w = QApplication::focusWidget();
    return w ? w->objectName().toStdString() : std::string("(none)");
}

} // namespace ovtest
