#pragma once

#include <QComboBox>
#include <QString>

class QInputMethodEvent;
class QKeyEvent;
class QObject;
class QWidget;

namespace lumacast {

// The per-character hook of the address field: only digits, the full stop
// and control characters may be typed. Sets `Key` to 0 to discard it.
// `Sender` is not looked at.
void ComboBox1KeyPress(QObject *Sender, char16_t &Key);

// The typed characters of `text` that ComboBox1KeyPress lets through.
QString FilterTypedText(QObject *sender, const QString &text);

// The address field with its address list: editable, entries kept in the
// order added, inline completion from them. Every typed character, from the
// keyboard or committed by an input method, passes ComboBox1KeyPress before
// the line edit sees it; a discarded one leaves text, caret, selection and
// completion as they were. Pasted text is not filtered.
class TAddressComboBox : public QComboBox {
    Q_OBJECT
public:
    explicit TAddressComboBox(QWidget *parent = nullptr);

protected:
    // The combo box hands key presses to its line edit itself, so the filter
    // has to sit here rather than on the line edit.
    void keyPressEvent(QKeyEvent *event) override;
    void inputMethodEvent(QInputMethodEvent *event) override;
};

// Object name of the rejection box, for tests that answer it.
inline constexpr const char *AddressRejectionName = "AddressRejection";

// Tells the user that the address was not taken: a modal information box
// centred on the screen, then the keyboard focus back to `field`, whose
// text stays as it is.
void ShowAddressRejection(QWidget *parent, QComboBox *field);

} // namespace lumacast
