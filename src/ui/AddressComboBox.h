#pragma once

#include <QComboBox>

class QInputMethodEvent;
class QKeyEvent;
class QWidget;

namespace lumacast {

// The address field with its address list: editable, entries kept in the
// order added, inline completion from them. Every typed character, from the
// keyboard or committed by an input method, passes ComboBox1KeyPress before
// the line edit sees it; a discarded one leaves text, caret, selection and
// completion as they were. Pasted text is not filtered.
class AddressComboBox : public QComboBox {
    Q_OBJECT
public:
    explicit AddressComboBox(QWidget *parent = nullptr);

protected:
    // The combo box hands key presses to its line edit itself, so the filter
    // has to sit here rather than on the line edit.
    void keyPressEvent(QKeyEvent *event) override;
    void inputMethodEvent(QInputMethodEvent *event) override;
};

} // namespace lumacast
