#pragma once

#include <QString>

class QComboBox;
class QObject;
class QWidget;

namespace lumacast {

// The per-character hook of the address field: only digits, the full stop
// and control characters may be typed. Sets `Key` to 0 to discard it.
// `Sender` is not looked at.
void ComboBox1KeyPress(QObject *Sender, char16_t &Key);

// The typed characters of `text` that ComboBox1KeyPress lets through.
QString FilterTypedText(const QString &text);

// Object name of the rejection box, for tests that answer it.
inline constexpr const char *AddressRejectionName = "AddressRejection";

// Tells the user that the address was not taken: a modal information box
// centred on the screen, then the keyboard focus back to `field`, whose
// text stays as it is.
void ShowAddressRejection(QWidget *parent, QComboBox *field);

} // namespace lumacast
