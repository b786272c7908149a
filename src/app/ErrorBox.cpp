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
    return QString::fromUtf8(UnknownErrorText);
}

void ShowErrorMessage(const QString &message)
{
    ShowMessageBox(nullptr,
                   {ErrorMessageBoxName, QMessageBox::Critical,
                    ApplicationTitle(QCoreApplication::applicationName()), ErrorBoxText(message),
                    QString::fromUtf8(ErrorBoxButton)});
}

} // namespace lumacast
