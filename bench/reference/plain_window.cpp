// The reference for the start-up and memory figures: a plain Qt Widgets window
// of the panel's size, with nothing in it.

#include <QApplication>
#include <QWidget>

int main(int argc, char **argv)
{
    QApplication app(argc, argv);
    QWidget window;
    window.setWindowTitle(QStringLiteral("Reference window"));
    window.setFixedSize(434, 182);
    window.show();
    return app.exec();
}
