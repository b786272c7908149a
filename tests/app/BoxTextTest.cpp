#include "support/ModalBoxes.h"

#include "app/DarkStyle.h"
#include "app/ErrorBox.h"
#include "discovery/UdpServer.h"
#include "platform/SocketErrorText.h"
#include "ui/AddressComboBox.h"
#include "ui/AddressEntry.h"
#include "ui/Main.h"
#include "ui/WindowText.h"

#include <gtest/gtest.h>

#include <QFontInfo>
#include <QGlyphRun>
#include <QRawFont>
#include <QTextLayout>

#include <cerrno>

using namespace lumacast;
using test::ModalBoxes;

namespace {

// Every character of every line of `text` drawn by `font` with a real glyph
// of the face itself: no fallback to another face, no empty box.
testing::AssertionResult DrawnByTheFace(const QFont &font, const QString &text)
{
    const QString face = QFontInfo(font).family();
    for (const QString &line : text.split(QStringLiteral("\r\n"))) {
        QTextLayout layout(line, font);
        layout.beginLayout();
        layout.createLine();
        layout.endLayout();
        for (const QGlyphRun &run : layout.glyphRuns()) {
            if (run.rawFont().familyName() != face)
                return testing::AssertionFailure()
                    << "\"" << line.toStdString() << "\" falls back from " << face.toStdString() << " to "
                    << run.rawFont().familyName().toStdString();
            for (const quint32 glyph : run.glyphIndexes())
                if (glyph == 0)
                    return testing::AssertionFailure()
                        << "\"" << line.toStdString() << "\" has an empty glyph in " << face.toStdString();
        }
    }
    return testing::AssertionSuccess();
}

TEST(BoxTextTest, EveryBoxTextIsDrawnWithRealGlyphsOfTheBoxFace)
{
    ModalBoxes watcher;
    QWidget window;
    ShowAddressRejection(&window, new AddressComboBox(&window));
    EXPECT_FALSE(SelectStyle(QStringLiteral("No Such Style")));
    ShowErrorMessage(ErrorMessage(std::make_exception_ptr(EndpointBindError(EADDRINUSE))));
    ASSERT_EQ(watcher.Seen().size(), 3u);

    // What the boxes showed, and every socket error message there is.
    QStringList texts;
    for (const auto &box : watcher.Seen())
        texts << box.title << box.text << box.buttons;
    texts << QString::fromUtf8(TimerUnavailableText);
    for (int errnoValue = 1; errnoValue < 134; ++errnoValue)
        texts << QString::fromStdString(SocketErrorMessage(errnoValue));

    for (const auto &box : watcher.Seen()) {
        SCOPED_TRACE(box.name.toStdString());
        EXPECT_EQ(box.textFont, box.buttonFont);
        for (const QString &text : texts)
            EXPECT_TRUE(DrawnByTheFace(box.textFont, text));
    }
}

} // namespace
