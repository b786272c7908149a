#pragma once

#include <QApplication>
#include <QLabel>
#include <QMessageBox>
#include <QPointer>
#include <QPushButton>
#include <QTimer>

#include <functional>
#include <vector>

namespace lumacast::test {

// What a test saw of a message box before it was answered.
struct SeenBox {
    QString name;
    QString title;
    QString text;
    QStringList buttons;
    QMessageBox::Icon icon = QMessageBox::NoIcon;
    bool modal = false;
    QColor window;
    // The faces of the message and of the first button.
    QFont textFont;
    QFont buttonFont;
};

// Answers every modal message box that opens while it lives: hands it to
// `answer` when one is given, otherwise clicks its first button; keeps what
// it saw. Boxes run nested event loops, so the look happens on a timer.
class ModalBoxes {
public:
    using Answer = std::function<void(QMessageBox *box)>;

    explicit ModalBoxes(Answer answer = {}) : answer_(std::move(answer))
    {
        timer_.setInterval(5);
        QObject::connect(&timer_, &QTimer::timeout, [this] { Look(); });
        timer_.start();
    }

    const std::vector<SeenBox> &Seen() const { return seen_; }

private:
    void Look()
    {
        auto *box = qobject_cast<QMessageBox *>(QApplication::activeModalWidget());
        if (box == nullptr || !box->isVisible() || box == last_)
            return;
        last_ = box;
        SeenBox s;
        s.name = box->objectName();
        s.title = box->windowTitle();
        s.text = box->text();
        s.icon = box->icon();
        s.modal = box->windowModality() == Qt::ApplicationModal;
        s.window = box->palette().color(QPalette::Window);
        for (QAbstractButton *b : box->buttons())
            s.buttons << b->text();
        if (const auto *label = box->findChild<QLabel *>(QStringLiteral("qt_msgbox_label")))
            s.textFont = label->font();
        if (!box->buttons().isEmpty())
            s.buttonFont = box->buttons().first()->font();
        seen_.push_back(s);
        if (answer_)
            answer_(box);
        else if (!box->buttons().isEmpty())
            box->buttons().first()->click();
        else
            box->reject();
    }

    Answer answer_;
    QTimer timer_;
    std::vector<SeenBox> seen_;
    QPointer<QMessageBox> last_; // the box being answered; a later box is a new one
};

} // namespace lumacast::test
