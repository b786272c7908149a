#pragma once

#include <QApplication>
#include <QLabel>
#include <QMessageBox>
#include <QPushButton>
#include <QTimer>

#include <vector>

namespace lumacast::test {

// What a test saw of a message box before it answered it.
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

// Answers every modal message box that opens while it lives with its first
// button, and keeps what it saw.
class BoxWatcher {
public:
    BoxWatcher()
    {
        timer_.setInterval(5);
        QObject::connect(&timer_, &QTimer::timeout, [this] { look(); });
        timer_.start();
    }

    const std::vector<SeenBox> &seen() const { return seen_; }

private:
    void look()
    {
        auto *box = qobject_cast<QMessageBox *>(QApplication::activeModalWidget());
        if (box == nullptr || !box->isVisible())
            return;
        SeenBox s;
        s.name = box->objectName();
        s.title = box->windowTitle();
        s.text = box->text();
        for (QAbstractButton *b : box->buttons())
            s.buttons << b->text();
        s.icon = box->icon();
        s.modal = box->windowModality() == Qt::ApplicationModal;
        s.window = box->palette().color(QPalette::Window);
        if (const auto *label = box->findChild<QLabel *>(QStringLiteral("qt_msgbox_label")))
            s.textFont = label->font();
        if (!box->buttons().isEmpty())
            s.buttonFont = box->buttons().first()->font();
        seen_.push_back(s);
        if (!box->buttons().isEmpty())
            box->buttons().first()->click();
        else
            box->reject();
    }

    QTimer timer_;
    std::vector<SeenBox> seen_;
};

} // namespace lumacast::test
