#include "ui/AddressEntry.h"
#include "ui/AddressComboBox.h"

#include "ui/MessageBox.h"
#include "ui/WindowText.h"

#include <QCompleter>
#include <QInputMethodEvent>
#include <QKeyEvent>
#include <QPointer>

#include <array>

namespace lumacast {
namespace {

// The characters that may be typed into the address field, by code 0..255.
constexpr std::array<bool, 256> AllowedKeys = [] {
    std::array<bool, 256> set{};
    set[u'.'] = true;
    for (char16_t c = u'0'; c <= u'9'; ++c)
        set[c] = true;
    return set;
}();

// Whether a line edit would insert the event's text. This mirrors the line
// edit's own test, so that everything it would insert is filtered, and
// shortcuts such as Ctrl+C (which carry a letter as text) are not.
bool InsertsText(const QKeyEvent *event)
{
    const QString text = event->text();
    if (text.isEmpty())
        return false;
    const QChar c = text.front();
    if (c.category() == QChar::Other_Format)
        return true;
    const auto modifiers = event->modifiers();
    if (modifiers == Qt::ControlModifier || modifiers == (Qt::ShiftModifier | Qt::ControlModifier))
        return false;
    if (c.isPrint() || c.category() == QChar::Other_PrivateUse)
        return true;
    return c.isHighSurrogate() && text.size() > 1 && text.at(1).isLowSurrogate();
}

// Ctrl+Backspace types the character 127, which the filter discards.
bool IsCtrlBackspace(const QKeyEvent *event)
{
    return event->key() == Qt::Key_Backspace && (event->modifiers() & Qt::ControlModifier);
}

} // namespace

void ComboBox1KeyPress(QObject * /*Sender*/, char16_t &Key)
{
    if (Key < 32)
        return;
    if (Key > 255 || !AllowedKeys[Key])
        Key = 0;
}

QString FilterTypedText(const QString &text)
{
    QString kept;
    for (const QChar c : text) {
        char16_t key = c.unicode();
        ComboBox1KeyPress(nullptr, key);
        if (key != 0)
            kept += QChar(key);
    }
    return kept;
}

AddressComboBox::AddressComboBox(QWidget *parent) : QComboBox(parent)
{
    setEditable(true);
    setMaxVisibleItems(8);
    setDuplicatesEnabled(true);
    setInsertPolicy(QComboBox::NoInsert);
    auto *completer = new QCompleter(model(), this);
    completer->setCompletionMode(QCompleter::InlineCompletion);
    completer->setCaseSensitivity(Qt::CaseSensitive);
    setCompleter(completer);
}

void AddressComboBox::keyPressEvent(QKeyEvent *event)
{
    if (IsCtrlBackspace(event)) {
        char16_t key = 127;
        ComboBox1KeyPress(this, key);
        if (key == 0) {
            event->accept();
            return;
        }
    }
    if (!InsertsText(event)) {
        QComboBox::keyPressEvent(event);
        return;
    }
    const QString typed = event->text();
    const QString kept = FilterTypedText(typed);
    if (kept == typed) {
        QComboBox::keyPressEvent(event);
        return;
    }
    if (kept.isEmpty()) {
        event->accept(); // discarded: nobody else sees the key either
        return;
    }
    QKeyEvent filtered(event->type(), event->key(), event->modifiers(), event->nativeScanCode(),
                       event->nativeVirtualKey(), event->nativeModifiers(), kept, event->isAutoRepeat(),
                       event->count(), event->device());
    QComboBox::keyPressEvent(&filtered);
    event->setAccepted(filtered.isAccepted());
}

void AddressComboBox::inputMethodEvent(QInputMethodEvent *event)
{
    const QString commit = event->commitString();
    const QString kept = FilterTypedText(commit);
    if (kept == commit) {
        QComboBox::inputMethodEvent(event);
        return;
    }
    // The composition goes on as the input method shows it; only its
    // committed characters are filtered, and a commit filtered away to
    // nothing replaces nothing either.
    QInputMethodEvent filtered(event->preeditString(), event->attributes());
    if (kept.isEmpty())
        filtered.setCommitString(QString());
    else
        filtered.setCommitString(kept, event->replacementStart(), event->replacementLength());
    QComboBox::inputMethodEvent(&filtered);
    event->setAccepted(filtered.isAccepted());
}

void ShowAddressRejection(QWidget *parent, QComboBox *field)
{
    // The field may go while the box's event loop runs (the program may end).
    QPointer<QComboBox> target = field;
    ShowMessageBox(parent,
                   {AddressRejectionName, QMessageBox::Information, QString::fromUtf8(InformationTitle),
                    QString::fromUtf8(AddressRejectionText), QString::fromUtf8(AddressRejectionButton),
                    true});
    if (target) {
        // Not every platform hands activation back to the window by itself.
        target->activateWindow();
        target->setFocus(Qt::OtherFocusReason);
    }
}

} // namespace lumacast
