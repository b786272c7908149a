#pragma once

#include <QString>

#include <exception>

namespace lumacast {

// Object names of the boxes, for tests that answer them.
inline constexpr const char *ErrorMessageBoxName = "ErrorMessageBox";
inline constexpr const char *StyleNotFoundBoxName = "StyleNotFound";

// The message of a caught error: what() of a std::exception read as UTF-8,
// a fixed text for anything else.
QString ErrorMessage(const std::exception_ptr &error);

// The error message box: modal, error icon, titled with the application
// title, the message with ErrorBoxText's full stop, one OK button.
void ShowErrorMessage(const QString &message);

} // namespace lumacast
