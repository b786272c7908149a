#include "app/DarkStyle.h"
#include "app/ErrorBox.h"
#include "ui/IndicatorStrip.h"

#include "support/ModalBoxes.h"
#include "support/Wait.h"

#include <gtest/gtest.h>

#include <QFile>
#include <QPushButton>
#include <QStyleFactory>
#include <QTemporaryDir>
#include <QTest>

#include <stdexcept>

using namespace lumacast;
using test::ModalBoxes;
using test::WaitUntil;

namespace {

const QColor DarkWindow(0x1f, 0x1f, 0x1f);

class StyleFoundTest : public testing::TestWithParam<const char *> { };

TEST_P(StyleFoundTest, ByItsNameInAnyCaseAndDarkensEveryWindow)
{
    ModalBoxes watcher;
    // A box would have been answered before SelectStyle returned.
    ASSERT_TRUE(SelectStyle(QString::fromUtf8(GetParam())));
    EXPECT_TRUE(watcher.Seen().empty());
    EXPECT_EQ(ActiveStyleName(), "Metropolis UI Dark");
    EXPECT_EQ(QApplication::palette().color(QPalette::Window), DarkWindow);

    QWidget window;
    auto *button = new QPushButton(QStringLiteral("POWER ON"), &window);
    button->setEnabled(false);
    EXPECT_EQ(window.palette().color(QPalette::Window), DarkWindow);
    EXPECT_EQ(button->palette().color(QPalette::Disabled, QPalette::ButtonText), QColor(0x6e, 0x6e, 0x6e));

    // Boxes are dark too.
    QTimer::singleShot(0, [] { ShowErrorMessage(QStringLiteral("x")); });
    ASSERT_TRUE(WaitUntil([&] { return watcher.Seen().size() == 1u; }));
    EXPECT_EQ(watcher.Seen()[0].window, DarkWindow);
}

INSTANTIATE_TEST_SUITE_P(Names, StyleFoundTest,
                         testing::Values("Metropolis UI Dark", "metropolis ui dark", "METROPOLIS UI DARK",
                                         "mEtRoPoLiS uI dArK"));

TEST(StyleTest, IndicatorStripsKeepTheirOwnColour)
{
    ASSERT_TRUE(SelectStyle(QString::fromLatin1(DarkStyleName)));
    QWidget window;
    window.resize(120, 40);
    // First in the focus chain, so the strip shows without focus.
    auto *other = new QPushButton(&window);
    other->setGeometry(100, 0, 20, 20);
    auto *strip = new IndicatorStrip(&window);
    strip->setGeometry(6, 51 - 40, 79, 4);
    window.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&window));
    for (const QColor colour : {QColor(255, 255, 0), QColor(255, 96, 0), QColor(0, 128, 255)}) {
        strip->SetColor(colour);
        const QImage face = strip->grab().toImage();
        ASSERT_EQ(face.size(), QSize(79, 4));
        for (int y = 0; y < face.height(); ++y)
            for (int x = 0; x < face.width(); ++x)
                ASSERT_EQ(face.pixelColor(x, y), colour) << x << "," << y;
    }

    // A focus mark on the edge only, and gone with the focus.
    window.activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(&window));
    strip->setFocus(Qt::TabFocusReason);
    ASSERT_TRUE(strip->hasFocus());
    QImage face = strip->grab().toImage();
    int marked = 0;
    for (int y = 0; y < face.height(); ++y)
        for (int x = 0; x < face.width(); ++x) {
            const bool edge = y == 0 || y == face.height() - 1 || x == 0 || x == face.width() - 1;
            if (!edge)
                ASSERT_EQ(face.pixelColor(x, y), strip->Color()) << x << "," << y;
            else if (face.pixelColor(x, y) != strip->Color())
                ++marked;
        }
    EXPECT_GT(marked, 40);
    other->setFocus(Qt::TabFocusReason);
    face = strip->grab().toImage();
    for (int y = 0; y < face.height(); ++y)
        for (int x = 0; x < face.width(); ++x)
            ASSERT_EQ(face.pixelColor(x, y), strip->Color()) << x << "," << y;
}

class StyleNotFoundTest : public testing::TestWithParam<const char *> { };

TEST_P(StyleNotFoundTest, ShowsTheBoxAndLeavesTheLookAsItWas)
{
    const QString before = ActiveStyleName();
    const QPalette palette = QApplication::palette();
    ModalBoxes watcher;
    const QString name = QString::fromUtf8(GetParam());
    EXPECT_FALSE(SelectStyle(name));
    ASSERT_EQ(watcher.Seen().size(), 1u);
    const auto &box = watcher.Seen()[0];
    EXPECT_EQ(box.name, StyleNotFoundBoxName);
    EXPECT_EQ(box.title, QStringLiteral("エラー"));
    EXPECT_EQ(box.text, QStringLiteral("スタイル '%1' が見つかりません").arg(name));
    EXPECT_EQ(box.buttons, QStringList{QStringLiteral("閉じる(&C)")});
    EXPECT_EQ(box.icon, QMessageBox::Critical);
    EXPECT_TRUE(box.modal);
    EXPECT_EQ(ActiveStyleName(), before);
    EXPECT_EQ(QApplication::palette(), palette);
}

INSTANTIATE_TEST_SUITE_P(Names, StyleNotFoundTest,
                         testing::Values("Metropolis UI Light", "Metropolis UI Dark ", "MetropolisUIDark", "",
                                         "Fusion"));

TEST(StyleTest, AProgramWithoutTheStoredStyleShowsTheBox)
{
    // Nothing loaded yet either, as at start-up.
    QApplication::setStyle(QStyleFactory::create(QStringLiteral("Fusion")));
    QTemporaryDir empty;
    ModalBoxes watcher;
    EXPECT_FALSE(SelectStyle(QString::fromLatin1(DarkStyleName), empty.path()));
    ASSERT_EQ(watcher.Seen().size(), 1u);
    EXPECT_EQ(watcher.Seen()[0].text, QStringLiteral("スタイル 'Metropolis UI Dark' が見つかりません"));
}

TEST(StyleTest, AStoredStyleThatCannotBeReadIsNotCaught)
{
    QTemporaryDir dir;
    QFile file(dir.filePath("broken.json"));
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.write("{\"name\": \"Metropolis UI Dark\", \"colours\": ");
    file.close();
    ModalBoxes watcher;
    EXPECT_THROW(SelectStyle(QString::fromLatin1(DarkStyleName), dir.path()), std::runtime_error);
    EXPECT_TRUE(watcher.Seen().empty());
}

class UnreadableStyleTest : public testing::TestWithParam<const char *> { };

TEST_P(UnreadableStyleTest, IsRefused)
{
    EXPECT_THROW(ParseStyleDescription(GetParam()), std::runtime_error);
}

INSTANTIATE_TEST_SUITE_P(
    Descriptions, UnreadableStyleTest,
    testing::Values("", "not json", "[]", R"({"colours": {"Window": "#000000"}})",
                    R"({"name": "  ", "colours": {}})", R"({"name": "X"})",
                    R"({"name": "X", "colours": {"Windw": "#000000"}})",
                    R"({"name": "X", "colours": {"NColorRoles": "#000000"}})",
                    R"({"name": "X", "colours": {"Window": "#00000g"}})",
                    R"({"name": "X", "colours": {"Window": 0}})",
                    R"({"name": "X", "base": "NoSuchStyle", "colours": {}})",
                    R"({"name": "X", "colours": {}, "disabled": {"Text": "nocolour"}})"));

TEST(StyleTest, ADescriptionGivesNameBaseAndColoursPerGroup)
{
    const StyleDescription style = ParseStyleDescription(R"({
        "name": "Night", "colours": {"Window": "#102030", "Text": "white"},
        "disabled": {"Text": "#808080"}})");
    EXPECT_EQ(style.name, "Night");
    EXPECT_EQ(style.base, "Fusion");
    EXPECT_EQ(style.palette.color(QPalette::Active, QPalette::Window), QColor(0x10, 0x20, 0x30));
    EXPECT_EQ(style.palette.color(QPalette::Inactive, QPalette::Text), QColor(Qt::white));
    EXPECT_EQ(style.palette.color(QPalette::Disabled, QPalette::Text), QColor(0x80, 0x80, 0x80));
}

} // namespace
