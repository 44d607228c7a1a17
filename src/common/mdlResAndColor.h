#pragma once

#include <QColor>
#include <QFont>
#include <QIcon>
#include <QString>
#include <QVariant>

class QLabel;
class QWidget;

// The product's look: one font, a small palette of numbered colours, the
// product icon and line breaks in captions, given to a window and all its
// controls by ApplyFormStyle. A control's own choices are written into its
// "Tag" dynamic property as a style directive: "fore,back,caption,tooltip,text".
namespace mdlResAndColor {

struct StyleTag
{
    qint16 fore = 0;    // foreground colour index
    qint16 back = 1;    // background colour index
    qint32 caption = 1; // caption message number (not used for a text)
    qint32 toolTip = 1; // tool tip message number (not used for a text)
    QString text;       // free text (not used)
};

QString GetDefaultFontName(); // "宋体"
// "宋体" at 9 points, falling back to the fonts that render Chinese elsewhere.
QFont GetDefaultFont();
QColor GetColor(int index);
StyleTag ParseStyleTag(const QString& tag);
// A whole number from value: numbers are rounded (ties to even), booleans give
// -1 or 0, other text is evaluated as an arithmetic expression with dflt for a
// text that does not parse; dflt also when the result does not fit.
qint32 ToInteger(const QVariant& value, qint32 dflt);
// As ToInteger, rounded to decimals places (0: whole number; negative: not rounded).
double ToNumber(const QVariant& value, double dflt, int decimals);

// The type name by which the styling table treats a Qt control ("Label",
// "TextBox", "CommandButton"…); "" for a widget that is only a container.
QString TypeNameOf(const QWidget* control);
// The controls of window in window order: every widget placed on it, looking
// into containers (frames, group boxes, tab pages) but not into the inner
// parts of composite controls.
QList<QWidget*> ControlsOf(QWidget* window);

// Styles window and all its controls. Never fails and never stops a window
// from opening: a step that does not apply is skipped.
void ApplyFormStyle(QWidget* window);

// The white tip panel at the top of the create, update and conversion
// windows: picture on white, the header centred at headerPointSize (in
// headerColour when it is valid), both labels showing the panel through.
void StyleTipPanel(QWidget* picture, QLabel* header, QLabel* tip, int headerPointSize,
                   const QColor& headerColour = QColor());

// The product icon shown by every window.
QIcon ProductIcon();

} // namespace mdlResAndColor
