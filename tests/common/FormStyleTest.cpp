#include "common/mdlResAndColor.h"

#include <QApplication>
#include <QCheckBox>
#include <QDialog>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QRadioButton>
#include <QTabWidget>
#include <QTest>
#include <QTreeWidget>
#include <QVBoxLayout>

#include <gtest/gtest.h>

#include <memory>

using namespace mdlResAndColor;

namespace {

const QColor kBlack(0, 0, 0);
const QColor kWhite(255, 255, 255);
const QColor kWindow(227, 223, 214);
const QColor kYellow(255, 255, 0);
const QColor kLightBlue(217, 244, 251);

} // namespace

TEST(FormStyle, PaletteByIndex)
{
    const struct
    {
        int index;
        QColor colour;
    } cases[] = {
        {0, kBlack},      {1, kWindow},
        {3, kWindow},     {8, kWindow},
        {5, kWhite},      {10, kWhite},
        {12, kWhite},     {7, QColor(0, 255, 198)},
        {14, kLightBlue}, {16, QColor(245, 245, 245)},
        {19, kYellow},    {20, QColor(255, 128, 64)},
        {2, kBlack},      {4, kBlack},
        {21, kBlack},     {-1, kBlack},
    };
    for (const auto& c : cases)
        EXPECT_EQ(GetColor(c.index), c.colour) << "index " << c.index;
}

TEST(FormStyle, DirectiveParts)
{
    const struct
    {
        const char* tag;
        int fore, back, caption, toolTip;
        const char* text;
    } cases[] = {
        {"", 0, 1, 1, 1, ""},
        {"14", 14, 1, 1, 1, ""},
        {"14,19", 14, 19, 1, 1, ""},
        {"2*7,(20-1)", 14, 19, 1, 1, ""}, // expressions are evaluated
        {"14.5,19.5", 14, 20, 1, 1, ""},  // rounding goes to the even neighbour
        {"3,4,100,200,free,text", 3, 4, 100, 200, "free,text"},
        {"x,19", 0, 19, 1, 1, ""},   // an expression that does not parse keeps the default
        {"1/0,19", 0, 19, 1, 1, ""}, // neither does one that cannot be computed
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.tag);
        const StyleTag tag = ParseStyleTag(QString::fromUtf8(c.tag));
        EXPECT_EQ(tag.fore, c.fore);
        EXPECT_EQ(tag.back, c.back);
        EXPECT_EQ(tag.caption, c.caption);
        EXPECT_EQ(tag.toolTip, c.toolTip);
        EXPECT_EQ(tag.text, QString::fromUtf8(c.text));
    }
}

TEST(FormStyle, NumberConversion)
{
    EXPECT_EQ(ToInteger(QVariant(true), 5), -1);
    EXPECT_EQ(ToInteger(QVariant(false), 5), 0);
    EXPECT_EQ(ToInteger(QVariant(2.5), 0), 2);
    EXPECT_EQ(ToInteger(QVariant(3.5), 0), 4);
    EXPECT_EQ(ToInteger(QStringLiteral(" 12 "), 0), 12);
    EXPECT_EQ(ToInteger(QStringLiteral("1e20"), 7), 7); // does not fit in 32 bits
    EXPECT_DOUBLE_EQ(ToNumber(QStringLiteral("1/3"), 0, 2), 0.33);
    EXPECT_DOUBLE_EQ(ToNumber(QStringLiteral("1/4"), 0, -1), 0.25);
    EXPECT_DOUBLE_EQ(ToNumber(QStringLiteral("2^"), 9, 0), 9);
}

TEST(FormStyle, ControlsTakeFontColoursAndLineBreaks)
{
    QWidget window;
    auto* layout = new QVBoxLayout(&window);
    auto* plainLabel = new QLabel(QStringLiteral("标签"), &window);
    auto* taggedLabel = new QLabel(QStringLiteral("x"), &window);
    taggedLabel->setProperty("Tag", QStringLiteral("14,19"));
    auto* exprLabel = new QLabel(QStringLiteral("y"), &window);
    exprLabel->setProperty("Tag", QStringLiteral("7*2,19"));
    auto* edit = new QLineEdit(&window);
    auto* taggedEdit = new QLineEdit(&window);
    taggedEdit->setProperty("Tag", QStringLiteral("20,14"));
    auto* button = new QPushButton(QStringLiteral("第一行{CRLF}第二行"), &window);
    button->setToolTip(QStringLiteral("a{crlf}b"));
    auto* mixedCase = new QPushButton(QStringLiteral("a{Crlf}b"), &window);
    auto* progress = new QProgressBar(&window);
    auto* frame = new QGroupBox(QStringLiteral("框{CRLF}架"), &window);
    auto* inFrame = new QLabel(QStringLiteral("内"), frame);
    frame->setLayout(new QVBoxLayout);
    frame->layout()->addWidget(inFrame);
    for (QWidget* w :
         {static_cast<QWidget*>(plainLabel), static_cast<QWidget*>(taggedLabel),
          static_cast<QWidget*>(exprLabel), static_cast<QWidget*>(edit), static_cast<QWidget*>(taggedEdit),
          static_cast<QWidget*>(button), static_cast<QWidget*>(mixedCase), static_cast<QWidget*>(progress),
          static_cast<QWidget*>(frame)})
        layout->addWidget(w);

    ApplyFormStyle(&window);

    EXPECT_EQ(window.palette().color(QPalette::Window), kWindow);
    EXPECT_FALSE(window.windowIcon().isNull());
    // A label without directive: black on the window background.
    EXPECT_EQ(plainLabel->palette().color(QPalette::WindowText), kBlack);
    EXPECT_EQ(plainLabel->palette().color(QPalette::Window), kWindow);
    EXPECT_EQ(taggedLabel->palette().color(QPalette::WindowText), kLightBlue);
    EXPECT_EQ(taggedLabel->palette().color(QPalette::Window), kYellow);
    EXPECT_EQ(exprLabel->palette().color(QPalette::WindowText), kLightBlue);
    // A text box without directive: black on white.
    EXPECT_EQ(edit->palette().color(QPalette::Text), kBlack);
    EXPECT_EQ(edit->palette().color(QPalette::Base), kWhite);
    EXPECT_EQ(taggedEdit->palette().color(QPalette::Text), QColor(255, 128, 64));
    EXPECT_EQ(taggedEdit->palette().color(QPalette::Base), kLightBlue);
    // Line-break markers become line breaks; other letter cases stay.
    EXPECT_EQ(button->text(), QStringLiteral("第一行\n第二行"));
    EXPECT_EQ(button->toolTip(), QStringLiteral("a\nb"));
    EXPECT_EQ(mixedCase->text(), QStringLiteral("a{Crlf}b"));
    EXPECT_EQ(frame->title(), QStringLiteral("框\n架"));
    // Controls inside a frame are styled too.
    EXPECT_EQ(inFrame->font().pointSize(), 9);
    EXPECT_EQ(inFrame->palette().color(QPalette::Window), kWindow);
    // A type that the table does not name keeps its colours but gets the font.
    EXPECT_FALSE(progress->testAttribute(Qt::WA_SetPalette));
    EXPECT_TRUE(plainLabel->testAttribute(Qt::WA_SetPalette));
    EXPECT_EQ(progress->font().pointSize(), 9);
    EXPECT_TRUE(progress->font().families().contains(GetDefaultFontName()));
}

TEST(FormStyle, TypeNamesOfQtControls)
{
    QWidget window;
    const struct
    {
        QWidget* widget;
        const char* type;
    } cases[] = {
        {new QLabel(&window), "Label"},         {new QRadioButton(&window), "OptionButton"},
        {new QCheckBox(&window), "CheckBox"},   {new QPushButton(&window), "CommandButton"},
        {new QGroupBox(&window), "Frame"},      {new QLineEdit(&window), "TextBox"},
        {new QTreeWidget(&window), "ListView"}, {new QTabWidget(&window), "SSTab"},
        {new QFrame(&window), "PictureBox"},    {new QWidget(&window), ""},
    };
    for (const auto& c : cases)
        EXPECT_EQ(TypeNameOf(c.widget), QString::fromUtf8(c.type)) << c.type;
}

// Only what a designer placed counts: the inner parts of a composite control
// (the line edit inside a combo box, the tab bar of a tab widget) do not.
TEST(FormStyle, ControlsAreThoseOnTheWindowAndInItsContainers)
{
    QWidget window;
    auto* tabs = new QTabWidget(&window);
    auto* page = new QWidget;
    auto* onPage = new QLabel(QStringLiteral("p"), page);
    tabs->addTab(page, QStringLiteral("页{CRLF}一"));
    auto* edit = new QLineEdit(&window);
    const QList<QWidget*> controls = ControlsOf(&window);
    EXPECT_EQ(controls, (QList<QWidget*>{tabs, onPage, edit}));
    ApplyFormStyle(&window);
    EXPECT_EQ(tabs->tabText(0), QStringLiteral("页\n一"));
}

// A caption control shows its colours while enabled; disabled (its own
// state, or its window's during a task) it is greyed as the platform greys
// text, whatever its directive says.
TEST(FormStyle, DisabledCaptionsAreGreyed)
{
    QWidget window;
    auto* layout = new QVBoxLayout(&window);
    auto* plain = new QLabel(QStringLiteral("密码(P) (不记忆)"), &window);
    auto* tagged = new QLabel(QStringLiteral("x"), &window);
    tagged->setProperty("Tag", QStringLiteral("14,19"));
    auto* option = new QRadioButton(QStringLiteral("使用 SQL Server 身份验证"), &window);
    for (QWidget* w :
         {static_cast<QWidget*>(plain), static_cast<QWidget*>(tagged), static_cast<QWidget*>(option)})
        layout->addWidget(w);
    ApplyFormStyle(&window);
    const QColor grey = QApplication::palette().color(QPalette::Disabled, QPalette::WindowText);
    ASSERT_NE(grey, kBlack);
    EXPECT_EQ(plain->palette().color(QPalette::Active, QPalette::WindowText), kBlack);
    EXPECT_EQ(tagged->palette().color(QPalette::Active, QPalette::WindowText), kLightBlue);
    for (QWidget* w :
         {static_cast<QWidget*>(plain), static_cast<QWidget*>(tagged), static_cast<QWidget*>(option)}) {
        EXPECT_EQ(w->palette().color(QPalette::Disabled, QPalette::WindowText), grey)
            << w->metaObject()->className();
        EXPECT_EQ(w->palette().color(QPalette::Disabled, QPalette::ButtonText),
                  QApplication::palette().color(QPalette::Disabled, QPalette::ButtonText));
    }
}

// The pages of a tab control take its background, so captions on them sit on
// the same colour as the page instead of patches of their own.
TEST(FormStyle, TabPagesTakeTheTabBackground)
{
    QWidget window;
    auto* layout = new QVBoxLayout(&window);
    auto* tabs = new QTabWidget(&window);
    layout->addWidget(tabs);
    auto* page = new QWidget;
    auto* label = new QLabel(QStringLiteral("还原为"), page);
    (new QVBoxLayout(page))->addWidget(label);
    tabs->addTab(page, QStringLiteral("选项"));
    ApplyFormStyle(&window);
    EXPECT_TRUE(page->autoFillBackground());
    EXPECT_EQ(page->palette().color(QPalette::Window), kWindow);
    EXPECT_EQ(label->palette().color(QPalette::Window), page->palette().color(QPalette::Window));
}

// A styled window keeps the size it opened with, as the menu does: it can
// neither be resized nor maximised, whatever its layout would like.
TEST(FormStyle, WindowsKeepTheSizeTheyOpenedWith)
{
    for (const bool dialog : {false, true}) {
        std::unique_ptr<QWidget> window(dialog ? new QDialog : new QWidget);
        auto* layout = new QVBoxLayout(window.get());
        auto* label = new QLabel(QStringLiteral("还原为"));
        layout->addWidget(label);
        window->resize(420, 300);
        ApplyFormStyle(window.get());
        window->show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(window.get()));
        const QSize opened = window->size();
        EXPECT_EQ(opened, QSize(420, 300)) << dialog;
        EXPECT_EQ(window->minimumSize(), opened) << dialog;
        EXPECT_EQ(window->maximumSize(), opened) << dialog;
        EXPECT_FALSE(window->windowFlags().testFlag(Qt::WindowMaximizeButtonHint)) << dialog;
        EXPECT_TRUE(window->windowFlags().testFlag(Qt::WindowCloseButtonHint)) << dialog;
        window->resize(900, 700);
        label->setText(QString(400, QChar(0x6570)));
        QApplication::processEvents();
        EXPECT_EQ(window->size(), opened) << dialog;
    }
}
