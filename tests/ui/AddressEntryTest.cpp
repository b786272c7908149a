#include "ui/AddressEntry.h"
#include "platform/HandOff.h"
#include "support/ModalBoxes.h"
#include "support/Wait.h"
#include "ui/AddressComboBox.h"
#include "ui/MessageBox.h"

#include <gtest/gtest.h>

#include <QAbstractButton>
#include <QApplication>
#include <QClipboard>
#include <QInputMethodEvent>
#include <QKeyEvent>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QScreen>
#include <QTest>
#include <QTimer>

#include <atomic>
#include <functional>
#include <thread>

using namespace lumacast;

namespace {

struct KeyCase {
    char16_t typed;
    char16_t after;
};

void PrintTo(const KeyCase &c, std::ostream *os)
{
    *os << "U+" << std::hex << static_cast<unsigned>(c.typed);
}

class KeyFilter : public testing::TestWithParam<KeyCase> { };

TEST_P(KeyFilter, KeepsOrDiscards)
{
    char16_t key = GetParam().typed;
    ComboBox1KeyPress(nullptr, key);
    EXPECT_EQ(int(key), int(GetParam().after)) << "code " << int(GetParam().typed);
}

INSTANTIATE_TEST_SUITE_P(Codes, KeyFilter,
                         testing::Values(
                             // Control characters: editing keys and Ctrl+letters.
                             KeyCase{0, 0}, KeyCase{1, 1}, KeyCase{3, 3}, KeyCase{8, 8}, KeyCase{9, 9},
                             KeyCase{13, 13}, KeyCase{22, 22}, KeyCase{24, 24}, KeyCase{26, 26},
                             KeyCase{27, 27}, KeyCase{31, 31},
                             // The allowed set and its neighbours.
                             KeyCase{u'.', u'.'}, KeyCase{u'0', u'0'}, KeyCase{u'5', u'5'},
                             KeyCase{u'9', u'9'}, KeyCase{u' ', 0}, KeyCase{u'+', 0}, KeyCase{u'-', 0},
                             KeyCase{u'/', 0}, KeyCase{u':', 0}, KeyCase{u'A', 0}, KeyCase{u'a', 0},
                             KeyCase{u'x', 0}, KeyCase{u'[', 0}, KeyCase{127, 0}, KeyCase{128, 0},
                             KeyCase{160, 0}, KeyCase{255, 0},
                             // Above 255: full-width digits of an input method, surrogates.
                             KeyCase{256, 0}, KeyCase{0x0660, 0}, KeyCase{0xFF10, 0}, KeyCase{0xFF0E, 0},
                             KeyCase{0xD800, 0}, KeyCase{0xFFFF, 0}),
                         [](const auto &info) { return "Code" + std::to_string(int(info.param.typed)); });

TEST(KeyFilterAll, ExactlyControlsDigitsAndFullStopPass)
{
    int kept = 0;
    for (unsigned code = 0; code <= 0xFFFF; ++code) {
        char16_t key = char16_t(code);
        ComboBox1KeyPress(nullptr, key);
        if (key != 0)
            ++kept;
        ASSERT_TRUE(key == 0 || key == code) << code;
    }
    EXPECT_EQ(kept, 31 + 11); // 1..31, the full stop and ten digits
}

TEST(KeyFilterText, KeepsOnlyAllowedCharactersInOrder)
{
    EXPECT_EQ(FilterTypedText(QStringLiteral("1a.b2: \u0663\uFF13")), QStringLiteral("1.2"));
}

TEST(MessageBoxCopy, DividersCaptionsWithoutAmpersandsAndCrLf)
{
    const QString divider = QString(27, u'-') + QStringLiteral("\r\n");
    EXPECT_EQ(MessageBoxClipboardText(QStringLiteral("T"), QStringLiteral("M"),
                                      {QStringLiteral("閉じる(&C)"), QStringLiteral("&&OK")}),
              divider + "T\r\n" + divider + "M\r\n" + divider + QStringLiteral("閉じる(C)   OK   \r\n") +
                  divider);
}

void SendKey(QWidget *target, Qt::Key key, const QString &text,
             Qt::KeyboardModifiers modifiers = Qt::NoModifier)
{
    QKeyEvent press(QEvent::KeyPress, key, modifiers, text);
    QApplication::sendEvent(target, &press);
    QKeyEvent release(QEvent::KeyRelease, key, modifiers, text);
    QApplication::sendEvent(target, &release);
}

void Commit(QWidget *target, const QString &text, int replaceFrom = 0, int replaceLength = 0)
{
    QInputMethodEvent event;
    event.setCommitString(text, replaceFrom, replaceLength);
    QApplication::sendEvent(target, &event);
}

// An address field in a shown, active window, its list holding two entries.
class AddressField : public testing::Test {
protected:
    void SetUp() override
    {
        field_ = new AddressComboBox(&window_);
        field_->addItem(QStringLiteral("192.168.0.10"));
        field_->addItem(QStringLiteral("fe80::1"));
        field_->setEditText(QString());
        window_.resize(300, 60);
        window_.show();
        window_.activateWindow();
        ASSERT_TRUE(QTest::qWaitForWindowActive(&window_));
        field_->setFocus();
        ASSERT_TRUE(test::WaitUntil([&] { return field_->hasFocus(); }));
    }

    struct State {
        QString text;
        int cursor;
        int selectionStart;
        QString selected;
        bool operator==(const State &) const = default;
        friend void PrintTo(const State &s, std::ostream *os)
        {
            *os << '"' << s.text.toStdString() << "\" cursor " << s.cursor << " selection "
                << s.selectionStart << " \"" << s.selected.toStdString() << '"';
        }
    };
    State FieldState() const
    {
        const QLineEdit *edit = field_->lineEdit();
        return {edit->text(), edit->cursorPosition(), edit->selectionStart(), edit->selectedText()};
    }

    QWidget window_;
    AddressComboBox *field_ = nullptr;
};

TEST_F(AddressField, DiscardedKeysChangeNothingAndDoNotComplete)
{
    // "f" would complete to the entry fe80::1 if it reached the field.
    QTest::keyClicks(field_, QStringLiteral("f: x"));
    EXPECT_EQ(FieldState(), (State{QString(), 0, -1, QString()}));

    QTest::keyClick(field_, '1');
    const State completed{QStringLiteral("192.168.0.10"), 1, 1, QStringLiteral("92.168.0.10")};
    ASSERT_EQ(FieldState(), completed);
    QTest::keyClicks(field_, QStringLiteral("a -:"));
    SendKey(field_, Qt::Key_unknown, QStringLiteral("\uFF11")); // full-width 1
    SendKey(field_, Qt::Key_unknown, QStringLiteral("\U0001F600")); // beyond 16 bits
    SendKey(field_, Qt::Key_A, QStringLiteral("a"), Qt::AltModifier | Qt::ControlModifier);
    QTest::keyClick(field_, Qt::Key_Backspace, Qt::ControlModifier); // code 127
    EXPECT_EQ(FieldState(), completed);
}

TEST_F(AddressField, DigitsAndFullStopsCompleteFromTheList)
{
    QTest::keyClicks(field_, QStringLiteral("19"));
    EXPECT_EQ(FieldState(), (State{QStringLiteral("192.168.0.10"), 2, 2, QStringLiteral("2.168.0.10")}));
    QTest::keyClicks(field_, QStringLiteral("2.1"));
    EXPECT_EQ(FieldState(), (State{QStringLiteral("192.168.0.10"), 5, 5, QStringLiteral("68.0.10")}));
    // A digit off the entry replaces the completed part.
    QTest::keyClick(field_, '0');
    EXPECT_EQ(FieldState(), (State{QStringLiteral("192.10"), 6, -1, QString()}));
}

TEST_F(AddressField, EditingKeysAndPastingWork)
{
    QClipboard *clipboard = QGuiApplication::clipboard();
    clipboard->setText(QStringLiteral("fe80::1%4"));
    QTest::keyClick(field_, Qt::Key_V, Qt::ControlModifier);
    EXPECT_EQ(field_->currentText(), QStringLiteral("fe80::1%4")); // pasted unfiltered

    QTest::keyClick(field_, Qt::Key_Backspace);
    EXPECT_EQ(field_->currentText(), QStringLiteral("fe80::1%"));
    QTest::keyClick(field_, Qt::Key_A, Qt::ControlModifier);
    QTest::keyClick(field_, Qt::Key_C, Qt::ControlModifier);
    EXPECT_EQ(clipboard->text(), QStringLiteral("fe80::1%"));
    QTest::keyClick(field_, Qt::Key_X, Qt::ControlModifier);
    EXPECT_EQ(field_->currentText(), QString());
    QTest::keyClick(field_, Qt::Key_Z, Qt::ControlModifier);
    EXPECT_EQ(field_->currentText(), QStringLiteral("fe80::1%"));

    // As a desktop keyboard sends them: Ctrl+V as code 22, Delete as code 127.
    field_->setEditText(QString());
    clipboard->setText(QStringLiteral("[::1]"));
    SendKey(field_, Qt::Key_V, QStringLiteral("\x16"), Qt::ControlModifier);
    EXPECT_EQ(field_->currentText(), QStringLiteral("[::1]"));
    QTest::keyClick(field_, Qt::Key_Home);
    SendKey(field_, Qt::Key_Delete, QStringLiteral("\x7f"));
    EXPECT_EQ(field_->currentText(), QStringLiteral("::1]"));
    QTest::keyClick(field_, Qt::Key_End);
    QTest::keyClick(field_, Qt::Key_Insert, Qt::ShiftModifier);
    EXPECT_EQ(field_->currentText(), QStringLiteral("::1][::1]"));
}

TEST_F(AddressField, KeyTextOfSeveralCharactersKeepsTheAllowedOnes)
{
    SendKey(field_, Qt::Key_unknown, QStringLiteral("1a.:2"));
    EXPECT_EQ(field_->currentText(), QStringLiteral("1.2"));
}

TEST_F(AddressField, InputMethodCommitsAreFiltered)
{
    Commit(field_, QStringLiteral("\uFF11\uFF12"));
    EXPECT_EQ(FieldState(), (State{QString(), 0, -1, QString()}));
    Commit(field_, QStringLiteral("1a0."));
    EXPECT_EQ(field_->currentText(), QStringLiteral("10."));

    field_->lineEdit()->setSelection(1, 1);
    const State before = FieldState();
    Commit(field_, QStringLiteral("x"), -2, 2); // discarded, so it replaces nothing
    EXPECT_EQ(FieldState(), before);
}

TEST_F(AddressField, EnterAddsNoEntry)
{
    QTest::keyClicks(field_, QStringLiteral("10.0.0.1"));
    QTest::keyClick(field_, Qt::Key_Return);
    EXPECT_EQ(field_->count(), 2);
    EXPECT_EQ(field_->currentText(), QStringLiteral("10.0.0.1"));
}

QWidget *KeyTarget(QMessageBox *box)
{
    QWidget *focus = QApplication::focusWidget();
    return focus != nullptr && box->isAncestorOf(focus) ? focus : box;
}

class Rejection : public testing::TestWithParam<Qt::Key> {
protected:
    void SetUp() override
    {
        field_ = new AddressComboBox(&window_);
        field_->addItem(QStringLiteral("192.168.0.10"));
        field_->setGeometry(10, 10, 160, 22);
        connect_ = new QPushButton(QStringLiteral("CONNECT"), &window_);
        connect_->setGeometry(180, 10, 80, 25);
        field_->setEditText(QStringLiteral("1.2.3.4 "));
        // A small window in a corner, so that its centre is not the screen's.
        window_.setGeometry(0, 0, 270, 50);
        window_.show();
        window_.activateWindow();
        ASSERT_TRUE(QTest::qWaitForWindowActive(&window_));
        connect_->setFocus();
    }

    QWidget window_;
    AddressComboBox *field_ = nullptr;
    QPushButton *connect_ = nullptr;
};

TEST_P(Rejection, BoxCopyTextAndFocusBackToTheField)
{
    bool answered = false;
    const test::ModalBoxes boxes([&](QMessageBox *box) {
        answered = true;
        EXPECT_EQ(box->objectName(), QLatin1String(AddressRejectionName));
        EXPECT_EQ(box->windowTitle(), QStringLiteral("情報"));
        EXPECT_EQ(box->text(), QStringLiteral("CHECK IP ADDRESS!!"));
        EXPECT_EQ(box->icon(), QMessageBox::Information);
        EXPECT_EQ(box->windowModality(), Qt::ApplicationModal);
        const auto buttons = box->buttons();
        ASSERT_EQ(buttons.size(), 1);
        EXPECT_EQ(buttons[0]->text(), QStringLiteral("OK"));
        EXPECT_EQ(box->defaultButton(), buttons[0]);
        EXPECT_EQ(box->escapeButton(), buttons[0]);
        const QPoint screenCentre = box->screen()->availableGeometry().center();
        EXPECT_LE((box->frameGeometry().center() - screenCentre).manhattanLength(), 2)
            << box->frameGeometry().x() << "," << box->frameGeometry().y();

        QGuiApplication::clipboard()->clear();
        QTest::keyClick(KeyTarget(box), Qt::Key_C, Qt::ControlModifier);
        const QString divider = QString(27, u'-') + QStringLiteral("\r\n");
        EXPECT_EQ(QGuiApplication::clipboard()->text(),
                  divider + QStringLiteral("情報\r\n") + divider + "CHECK IP ADDRESS!!\r\n" + divider +
                      "OK   \r\n" + divider);
        EXPECT_TRUE(box->isVisible()); // copying does not close it

        QTest::keyClick(KeyTarget(box), GetParam());
    });
    ShowAddressRejection(&window_, field_);

    EXPECT_TRUE(answered);
    EXPECT_EQ(window_.findChild<QMessageBox *>(), nullptr);
    EXPECT_EQ(window_.focusWidget(), field_);
    EXPECT_TRUE(test::WaitUntil([&] { return field_->hasFocus(); }));
    EXPECT_EQ(field_->currentText(), QStringLiteral("1.2.3.4 "));
    EXPECT_EQ(field_->count(), 1);
}

INSTANTIATE_TEST_SUITE_P(ClosedBy, Rejection, testing::Values(Qt::Key_Escape, Qt::Key_Return, Qt::Key_Enter),
                         [](const auto &info) { return QKeySequence(info.param).toString().toStdString(); });

TEST_F(AddressField, HandOffsRunWhileTheRejectionIsShown)
{
    std::atomic<bool> ranUnderTheBox = false;
    const auto handOffs = HandOffQueue::Make();
    handOffs->Watch();
    std::thread worker([&] {
        handOffs->Synchronize([&] { ranUnderTheBox = QApplication::activeModalWidget() != nullptr; });
    });
    const test::ModalBoxes boxes([&](QMessageBox *box) {
        EXPECT_TRUE(test::WaitUntil([&] { return ranUnderTheBox.load(); }));
        box->buttons().front()->click();
    });
    ShowAddressRejection(&window_, field_);
    worker.join();
    EXPECT_TRUE(ranUnderTheBox);
}

} // namespace
