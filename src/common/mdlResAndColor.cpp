#include "common/mdlResAndColor.h"

#include "common/CEval.h"
#include "common/VbError.h"
#include "common/mdlCommon.h"

#include <QAbstractButton>
#include <QAbstractItemView>
#include <QAction>
#include <QApplication>
#include <QCalendarWidget>
#include <QCheckBox>
#include <QComboBox>
#include <QDateTimeEdit>
#include <QEvent>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QListView>
#include <QMenu>
#include <QMenuBar>
#include <QPainter>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QScrollArea>
#include <QSpinBox>
#include <QSplitter>
#include <QStackedWidget>
#include <QTabBar>
#include <QTabWidget>
#include <QTextEdit>
#include <QToolBar>
#include <QToolButton>
#include <QTreeView>
#include <QTreeWidget>

#include <cmath>
#include <limits>

namespace mdlResAndColor {

namespace {

// Captions, tool tips and texts go through the template formatter without
// arguments, which turns "{CRLF}" and "{crlf}" into line breaks; Qt widgets
// break lines at "\n" alone.
QString Formatted(const QString& text)
{
    QString out = mdlCommon::FormatTemplate(text);
    out.replace(QLatin1String("\r\n"), QLatin1String("\n"));
    return out;
}

// Fixes a window at the size it opens with, once its layout has given it
// that size: the window cannot be resized, and nothing in it moves into
// empty space.
class FixSizeOnShow : public QObject
{
public:
    using QObject::QObject;

protected:
    bool eventFilter(QObject* watched, QEvent* event) override
    {
        if (event->type() == QEvent::Show) {
            auto* window = static_cast<QWidget*>(watched);
            window->setFixedSize(window->size());
            window->removeEventFilter(this);
            deleteLater();
        }
        return false;
    }
};

void SetColor(QWidget* w, QPalette::ColorRole role, const QColor& c)
{
    QPalette p = w->palette();
    p.setColor(role, c);
    w->setPalette(p);
}

// Foreground and background of a caption-bearing control (label, frame,
// option button, check box, picture box).
void SetCaptionColors(QWidget* w, int fore, int back)
{
    QPalette p = w->palette();
    // The text colour holds while the control is enabled; a disabled one is
    // greyed as the platform greys text.
    for (const QPalette::ColorGroup group : {QPalette::Active, QPalette::Inactive}) {
        p.setColor(group, QPalette::WindowText, GetColor(fore));
        p.setColor(group, QPalette::ButtonText, GetColor(fore));
    }
    p.setColor(QPalette::Window, GetColor(back));
    w->setPalette(p);
    // A check box fills with the button colour unless told otherwise: the
    // caption sits on the background colour like every other caption.
    w->setBackgroundRole(QPalette::Window);
    w->setAutoFillBackground(true);
}

void SetTextBoxColors(QWidget* w, int fore, int back)
{
    QPalette p = w->palette();
    p.setColor(QPalette::Text, GetColor(fore));
    p.setColor(QPalette::Base, GetColor(back));
    w->setPalette(p);
}

void FormatToolTip(QWidget* w)
{
    if (!w->toolTip().isEmpty())
        w->setToolTip(Formatted(w->toolTip()));
}

void FormatCaption(QWidget* w)
{
    if (auto* label = qobject_cast<QLabel*>(w))
        label->setText(Formatted(label->text()));
    else if (auto* button = qobject_cast<QAbstractButton*>(w))
        button->setText(Formatted(button->text()));
    else if (auto* group = qobject_cast<QGroupBox*>(w))
        group->setTitle(Formatted(group->title()));
}

void FormatAction(QAction* action)
{
    action->setText(Formatted(action->text()));
    if (!action->toolTip().isEmpty() && action->toolTip() != action->text())
        action->setToolTip(Formatted(action->toolTip()));
}

StyleTag TagOf(const QWidget* w)
{
    return ParseStyleTag(w->property("Tag").toString());
}

bool IsContainer(const QWidget* w)
{
    const QMetaObject* mo = w->metaObject();
    return qobject_cast<const QGroupBox*>(w) || qobject_cast<const QStackedWidget*>(w) ||
           qobject_cast<const QSplitter*>(w) || mo == &QWidget::staticMetaObject ||
           mo == &QFrame::staticMetaObject;
}

void Collect(QWidget* parent, QList<QWidget*>& out)
{
    if (auto* tabs = qobject_cast<QTabWidget*>(parent)) {
        for (int i = 0; i < tabs->count(); ++i)
            Collect(tabs->widget(i), out);
        return;
    }
    if (auto* area = qobject_cast<QScrollArea*>(parent)) {
        if (area->widget())
            Collect(area->widget(), out);
        return;
    }
    for (QObject* child : parent->children()) {
        auto* w = qobject_cast<QWidget*>(child);
        if (!w || w->isWindow() || w->objectName().startsWith(QLatin1String("qt_")))
            continue;
        out.append(w);
        if (IsContainer(w) || qobject_cast<QTabWidget*>(w) || qobject_cast<QScrollArea*>(w))
            Collect(w, out);
    }
}

void StyleControl(QWidget* w)
{
    w->setFont(GetDefaultFont());
    const QString type = TypeNameOf(w);
    if (type == QLatin1String("ListView")) {
        SetTextBoxColors(w, 9, 10);
    } else if (type == QLatin1String("SSTab")) {
        auto* tabs = qobject_cast<QTabWidget*>(w);
        for (int i = 0; i < tabs->count(); ++i) {
            tabs->setTabText(i, Formatted(tabs->tabText(i)));
            tabs->setTabToolTip(i, Formatted(tabs->tabToolTip(i)));
            // Each page shows the tab control's background, the colour its
            // captions sit on.
            QWidget* page = tabs->widget(i);
            SetColor(page, QPalette::Window, GetColor(8));
            page->setAutoFillBackground(true);
        }
        SetColor(w, QPalette::Window, GetColor(8));
    } else if (type == QLatin1String("TabStrip")) {
        auto* bar = qobject_cast<QTabBar*>(w);
        for (int i = 0; i < bar->count(); ++i) {
            bar->setTabText(i, Formatted(bar->tabText(i)));
            bar->setTabToolTip(i, Formatted(bar->tabToolTip(i)));
        }
        SetColor(w, QPalette::Window, GetColor(8));
    } else if (type == QLatin1String("Toolbar")) {
        for (QAction* action : w->actions()) {
            FormatAction(action);
            if (QMenu* menu = action->menu()) {
                for (QAction* entry : menu->actions())
                    entry->setText(Formatted(entry->text()));
            }
        }
    } else if (type == QLatin1String("Label") || type == QLatin1String("Frame") ||
               type == QLatin1String("OptionButton") || type == QLatin1String("CheckBox") ||
               type == QLatin1String("PictureBox")) {
        const StyleTag tag = TagOf(w);
        FormatCaption(w);
        SetCaptionColors(w, tag.fore, tag.back);
    } else if (type == QLatin1String("CommandButton")) {
        FormatCaption(w);
        FormatToolTip(w);
    } else if (type == QLatin1String("TextBox") || type == QLatin1String("ComboBox") ||
               type == QLatin1String("TDBNumber")) {
        StyleTag tag = TagOf(w);
        FormatToolTip(w);
        if (tag.fore == 0)
            tag.fore = 4;
        if (tag.back == 1)
            tag.back = 5;
        SetTextBoxColors(w, tag.fore, tag.back);
    } else if (type == QLatin1String("DTPicker")) {
        auto* edit = qobject_cast<QDateTimeEdit*>(w);
        if (edit->calendarWidget())
            SetColor(edit->calendarWidget(), QPalette::Base, GetColor(8));
    }
    // Every other type keeps its colours: it has the font and nothing more.
}

} // namespace

QString GetDefaultFontName()
{
    return QStringLiteral("宋体");
}

QFont GetDefaultFont()
{
    QFont font;
    font.setFamilies({GetDefaultFontName(), QStringLiteral("SimSun"), QStringLiteral("Noto Sans CJK SC"),
                      QStringLiteral("WenQuanYi Zen Hei")});
    font.setPointSize(9);
    return font;
}

QColor GetColor(int index)
{
    switch (index) {
    case 1:
    case 3:
    case 8:
        return QColor(227, 223, 214);
    case 5:
    case 10:
    case 12:
        return QColor(255, 255, 255);
    case 7:
        return QColor(0, 255, 198);
    case 14:
        return QColor(217, 244, 251);
    case 16:
        return QColor(245, 245, 245);
    case 17:
        return QApplication::palette().color(QPalette::HighlightedText);
    case 18:
        return QApplication::palette().color(QPalette::Highlight);
    case 19:
        return QColor(255, 255, 0);
    case 20:
        return QColor(255, 128, 64);
    default:
        return QColor(0, 0, 0);
    }
}

double ToNumber(const QVariant& value, double dflt, int decimals)
{
    double number = 0;
    if (value.typeId() == QMetaType::Bool) {
        number = value.toBool() ? -1 : 0;
    } else {
        bool numeric = false;
        const QMetaType::Type id = static_cast<QMetaType::Type>(value.typeId());
        if (id == QMetaType::Int || id == QMetaType::LongLong || id == QMetaType::Double ||
            id == QMetaType::Float || id == QMetaType::UInt || id == QMetaType::Short) {
            number = value.toDouble(&numeric);
        } else {
            number = QLocale::c().toDouble(value.toString().trimmed(), &numeric);
        }
        if (!numeric) {
            try {
                CEval eval;
                number = eval.Evaluate(value.toString(), dflt);
            } catch (const ov::VbError&) {
                number = dflt;
            }
        }
    }
    if (decimals == 0)
        return std::nearbyint(number);
    if (decimals > 0) {
        const double scale = std::pow(10.0, decimals);
        return std::nearbyint(number * scale) / scale;
    }
    return number;
}

qint32 ToInteger(const QVariant& value, qint32 dflt)
{
    const double number = ToNumber(value, dflt, 0);
    if (!std::isfinite(number) || number < std::numeric_limits<qint32>::min() ||
        number > std::numeric_limits<qint32>::max())
        return dflt;
    return static_cast<qint32>(number);
}

StyleTag ParseStyleTag(const QString& tag)
{
    StyleTag out;
    if (tag.isEmpty())
        return out;
    // At most five parts: the last one keeps any further commas.
    QStringList parts = tag.split(QLatin1Char(','));
    while (parts.size() > 5)
        parts[4] += QLatin1Char(',') + parts.takeAt(5);
    auto whole16 = [](const QString& part, qint16 dflt) {
        const qint32 v = ToInteger(part, dflt);
        return v < std::numeric_limits<qint16>::min() || v > std::numeric_limits<qint16>::max()
                   ? dflt
                   : static_cast<qint16>(v);
    };
    if (parts.size() > 0)
        out.fore = whole16(parts[0], out.fore);
    if (parts.size() > 1)
        out.back = whole16(parts[1], out.back);
    if (parts.size() > 2)
        out.caption = ToInteger(parts[2], out.caption);
    if (parts.size() > 3)
        out.toolTip = ToInteger(parts[3], out.toolTip);
    if (parts.size() > 4)
        out.text = parts[4];
    return out;
}

QString TypeNameOf(const QWidget* w)
{
    // The most derived Qt classes are tested first.
    if (qobject_cast<const QLabel*>(w))
        return QStringLiteral("Label");
    if (qobject_cast<const QRadioButton*>(w))
        return QStringLiteral("OptionButton");
    if (qobject_cast<const QCheckBox*>(w))
        return QStringLiteral("CheckBox");
    if (qobject_cast<const QPushButton*>(w) || qobject_cast<const QToolButton*>(w))
        return QStringLiteral("CommandButton");
    if (qobject_cast<const QGroupBox*>(w))
        return QStringLiteral("Frame");
    if (qobject_cast<const QLineEdit*>(w) || qobject_cast<const QTextEdit*>(w) ||
        qobject_cast<const QPlainTextEdit*>(w))
        return QStringLiteral("TextBox");
    if (qobject_cast<const QComboBox*>(w))
        return QStringLiteral("ComboBox");
    if (qobject_cast<const QDateTimeEdit*>(w))
        return QStringLiteral("DTPicker");
    if (qobject_cast<const QAbstractSpinBox*>(w))
        return QStringLiteral("TDBNumber");
    if (qobject_cast<const QTreeWidget*>(w) || qobject_cast<const QListView*>(w))
        return QStringLiteral("ListView");
    if (qobject_cast<const QTreeView*>(w))
        return QStringLiteral("TreeView");
    if (qobject_cast<const QTabWidget*>(w))
        return QStringLiteral("SSTab");
    if (qobject_cast<const QTabBar*>(w))
        return QStringLiteral("TabStrip");
    if (qobject_cast<const QToolBar*>(w))
        return QStringLiteral("Toolbar");
    if (qobject_cast<const QAbstractItemView*>(w))
        return QStringLiteral("VSFlexGrid");
    // A bare frame is the picture box of a window; a bare widget only holds others.
    if (w->metaObject() == &QFrame::staticMetaObject)
        return QStringLiteral("PictureBox");
    if (w->metaObject() == &QWidget::staticMetaObject)
        return QString();
    return QString::fromLatin1(w->metaObject()->className());
}

QList<QWidget*> ControlsOf(QWidget* window)
{
    QList<QWidget*> out;
    Collect(window, out);
    return out;
}

void ApplyFormStyle(QWidget* window)
{
    if (!window)
        return;
    SetColor(window, QPalette::Window, GetColor(8));
    window->setAutoFillBackground(true);
    window->setFont(GetDefaultFont());
    window->setWindowIcon(ProductIcon());
    if (window->isWindow()) {
        // A fixed size, as the menu has: no maximise button, no frame to drag.
        const Qt::WindowFlags type = window->windowFlags() & Qt::WindowType_Mask;
        Qt::WindowFlags frame = Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                                Qt::WindowCloseButtonHint;
        if (type == Qt::Window)
            frame |= Qt::WindowMinimizeButtonHint;
        window->setWindowFlags(type | frame);
        window->installEventFilter(new FixSizeOnShow(window));
    }
    if (auto* bar = window->findChild<QMenuBar*>()) {
        for (QAction* action : bar->findChildren<QAction*>())
            action->setText(Formatted(action->text()));
    }
    for (QWidget* control : ControlsOf(window))
        StyleControl(control);
}

void StyleTipPanel(QWidget* picture, QLabel* header, QLabel* tip, int headerPointSize,
                   const QColor& headerColour)
{
    SetColor(picture, QPalette::Window, QColor(255, 255, 255));
    tip->setAutoFillBackground(false);
    header->setAutoFillBackground(false);
    QFont headerFont = header->font();
    headerFont.setPointSize(headerPointSize);
    header->setFont(headerFont);
    if (headerColour.isValid())
        SetColor(header, QPalette::WindowText, headerColour);
    header->setAlignment(Qt::AlignCenter);
}

QIcon ProductIcon()
{
    QIcon result;
    for (int size : {16, 32, 48}) {
        QPixmap pixmap(size, size);
        pixmap.fill(Qt::transparent);
        QPainter painter(&pixmap);
        painter.setRenderHint(QPainter::Antialiasing);
        painter.setBrush(QColor(28, 92, 168));
        painter.setPen(Qt::NoPen);
        painter.drawRoundedRect(QRectF(0, 0, size, size), size / 6.0, size / 6.0);
        painter.setPen(QPen(Qt::white, size / 8.0));
        painter.setBrush(Qt::NoBrush);
        const qreal m = size / 4.0;
        painter.drawEllipse(QRectF(m, m, size - 2 * m, size - 2 * m));
        painter.end();
        result.addPixmap(pixmap);
    }
    return result;
}

} // namespace mdlResAndColor
