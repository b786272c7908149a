// The reference for the start-up and memory figures: a plain Qt Widgets window
// with the panel's controls, made from its layout table, in the Fusion style,
// but none of the panel's own code beyond that table: no discovery, no guard,
// no stored style.

#include "ui/Layout.h"

#include <QApplication>
#include <QComboBox>
#include <QFrame>
#include <QLabel>
#include <QPushButton>
#include <QStatusBar>
#include <QStyleFactory>
#include <QWidget>

using namespace lumacast;

int main(int argc, char **argv)
{
    QApplication app(argc, argv);
    QApplication::setStyle(QStyleFactory::create(QStringLiteral("Fusion")));
    QWidget window;
    window.setWindowTitle(QStringLiteral("Reference window"));
    window.setFixedSize(WindowWidth, WindowHeight);

    QFont bold(QStringLiteral("Tahoma"));
    bold.setPixelSize(11);
    bold.setBold(true);
    for (const ControlSpec &control : Controls) {
        QWidget *widget = nullptr;
        const QString caption = QString::fromUtf8(control.caption);
        switch (control.kind) {
        case ControlKind::Label:
            widget = new QLabel(caption, &window);
            break;
        case ControlKind::Button:
            widget = new QPushButton(caption, &window);
            break;
        case ControlKind::AddressField: {
            auto *combo = new QComboBox(&window);
            combo->setEditable(true);
            widget = combo;
            break;
        }
        case ControlKind::StatusBar: {
            auto *status = new QStatusBar(&window);
            status->setSizeGripEnabled(false);
            status->showMessage(QStringLiteral("DISCONNECTED"));
            widget = status;
            break;
        }
        case ControlKind::Strip:
            widget = new QFrame(&window);
            widget->setAutoFillBackground(true);
            widget->setPalette(QPalette(QColor(255, 96, 0)));
            break;
        }
        widget->setGeometry(control.left, control.top, control.width, control.height);
        if (control.bold)
            widget->setFont(bold);
    }

    window.show();
    return app.exec();
}
