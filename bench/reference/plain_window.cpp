// The reference for the start-up and memory figures: a plain Qt Widgets window
// with the panel's controls (a label, an editable combo box, thirteen buttons,
// eight strips, a status bar) in the Fusion style, but none of the panel's
// own code: no discovery, no guard, no stored style.

#include <QApplication>
#include <QComboBox>
#include <QFrame>
#include <QLabel>
#include <QPushButton>
#include <QStatusBar>
#include <QStyleFactory>
#include <QWidget>

int main(int argc, char **argv)
{
    QApplication app(argc, argv);
    QApplication::setStyle(QStyleFactory::create(QStringLiteral("Fusion")));
    QWidget window;
    window.setWindowTitle(QStringLiteral("Reference window"));
    window.setFixedSize(434, 182);

    QFont bold(QStringLiteral("Tahoma"));
    bold.setPixelSize(11);
    bold.setBold(true);
    auto *label = new QLabel(QStringLiteral("IP Address:"), &window);
    label->setGeometry(9, 19, 64, 13);
    label->setFont(bold);
    auto *combo = new QComboBox(&window);
    combo->setEditable(true);
    combo->setGeometry(86, 16, 163, 21);
    combo->setFont(bold);

    const struct {
        const char *caption;
        int left, top, width;
    } buttons[] = {
        {"FIND", 259, 14, 63},    {"CONNECT", 330, 14, 83},  {"POWER ON ", 6, 56, 79},
        {"LAMP ON ", 88, 56, 79}, {"MUTE ON ", 170, 56, 79}, {"POWER OFF", 6, 84, 79},
        {"LAMP OFF", 88, 84, 79}, {"MUTE OFF", 170, 84, 79}, {"1", 6, 126, 79},
        {"2", 88, 126, 79},       {"3", 170, 126, 79},       {"4", 252, 126, 79},
        {"5", 334, 126, 79},
    };
    for (const auto &b : buttons) {
        auto *button = new QPushButton(QString::fromLatin1(b.caption), &window);
        button->setGeometry(b.left, b.top, b.width, 25);
        button->setFont(bold);
    }
    const int strips[][2] = {{6, 51},   {88, 51},   {170, 51},  {6, 121},
                             {88, 121}, {170, 121}, {252, 121}, {334, 121}};
    for (const auto &s : strips) {
        auto *strip = new QFrame(&window);
        strip->setGeometry(s[0], s[1], 79, 4);
        strip->setAutoFillBackground(true);
        strip->setPalette(QPalette(QColor(255, 96, 0)));
    }
    auto *status = new QStatusBar(&window);
    status->setGeometry(0, 163, 434, 19);
    status->setSizeGripEnabled(false);
    status->showMessage(QStringLiteral("DISCONNECTED"));

    window.show();
    return app.exec();
}
