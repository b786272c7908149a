#include "app/ErrorBox.h"

#include "app/AppText.h"
#include "ui/AddressEntry.h"

#include <QApplication>
#include <QClipboard>
#include <QKeyEvent>
#include <QMessageBox>
#include <QPointer>
#include <QPushButton>

#include <stdexcept>

namespace lumacast {
namespace {

class TCriticalBox : public QMessageBox {
public:
    TCriticalBox() : QMessageBox(nullptr) { }

protected:
    void keyPressEvent(QKeyEvent *event) override
    {
        if (!event->matches(QKeySequence::Copy)) {
            QMessageBox::keyPressEvent(event);
            return;
        }
        QStringList captions;
        for (const QAbstractButton *button : buttons())
            captions << button->text();
        if (QClipboard *clipboard = QGuiApplication::clipboard())
            clipboard->setText(MessageBoxClipboardText(windowTitle(), text(), captions));
        event->accept();
    }
};

} // namespace

QString ErrorMessage(const std::exception_ptr &error)
{
    try {
        if (error)
            std::rethrow_exception(error);
    } catch (const std::exception &e) {
        return QString::fromUtf8(e.what());
    } catch (...) {
    }
    return QStringLiteral("An error of an unknown kind occurred");
}

void ShowCriticalBox(const char *objectName, const QString &title, const QString &text,
                     const QString &buttonCaption)
{
    // No parent: the box must outlive whatever window was busy when the error
    // came, and it centres on the screen by itself.
    QPointer<TCriticalBox> box = new TCriticalBox;
    box->setObjectName(QLatin1String(objectName));
    box->setWindowModality(Qt::ApplicationModal);
    box->setIcon(QMessageBox::Critical);
    box->setWindowTitle(title);
    box->setText(text);
    box->setTextFormat(Qt::PlainText);
    QPushButton *button = box->addButton(buttonCaption, QMessageBox::AcceptRole);
    box->setDefaultButton(button);
    box->setEscapeButton(button);
    box->exec();
    delete box.data();
}

void ShowErrorMessage(const QString &message)
{
    ShowCriticalBox(ErrorMessageBoxName, ApplicationTitle(QCoreApplication::applicationName()),
                    ErrorBoxText(message), QStringLiteral("OK"));
}

} // namespace lumacast
