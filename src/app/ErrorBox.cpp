#include "app/ErrorBox.h"

#include "app/AppText.h"
#include "ui/MessageBox.h"

#include <QCoreApplication>

#include <stdexcept>

namespace lumacast {

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

void ShowErrorMessage(const QString &message)
{
    ShowMessageBox(nullptr,
                   {ErrorMessageBoxName, QMessageBox::Critical,
                    ApplicationTitle(QCoreApplication::applicationName()), ErrorBoxText(message),
                    QStringLiteral("OK")});
}

} // namespace lumacast
