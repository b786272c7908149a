#include "app/DisplayCheck.h"

#include "platform/Process.h"

#include <QString>
#include <QtGlobal>

#include <cstdio>
#include <cstdlib>
#include <string_view>

namespace lumacast {
namespace {

struct Held {
    QtMsgType type;
    const char *category; // the toolkit's categories are static texts
    QString text;
};

bool checking = false;
QtMessageHandler previous = nullptr;
std::vector<Held> held;

void AtStartUp(QtMsgType type, const QMessageLogContext &context, const QString &text)
{
    if (type != QtFatalMsg) {
        held.push_back({type, context.category, text});
        return;
    }
    // The toolkit ends the program after this message; we end it first.
    std::vector<std::string> messages;
    messages.reserve(held.size() + 1);
    for (const Held &message : held)
        messages.push_back(message.text.toStdString());
    messages.push_back(text.toStdString());
    const std::string reason =
        NoDisplayReason(messages, [](const char *name) -> const char * { return std::getenv(name); });
    std::fprintf(stderr, "lumacast2: cannot open a display: %s\n", reason.c_str());
    EndProcessAtOnce(1);
}

std::string FirstLine(std::string_view text)
{
    return std::string(text.substr(0, text.find('\n')));
}

} // namespace

std::string NoDisplayReason(const std::vector<std::string> &toolkitMessages,
                            const EnvironmentLookup &environment)
{
    // A display that was tried and not reached says more than a platform
    // that is missing, which the toolkit may have tried first.
    for (const std::string &message : toolkitMessages) {
        if (message.starts_with("could not connect to display")) {
            const char *display = environment("DISPLAY");
            if (display == nullptr || display[0] == '\0')
                return "DISPLAY is not set";
            return std::string("the X display ") + display + " cannot be reached";
        }
        if (message.starts_with("Failed to create wl_display")) {
            const char *display = environment("WAYLAND_DISPLAY");
            return std::string("the Wayland display ") +
                (display != nullptr && display[0] != '\0' ? display : "wayland-0") + " cannot be reached";
        }
    }
    constexpr std::string_view NoPlugin = "Could not find the Qt platform plugin \"";
    for (const std::string &message : toolkitMessages) {
        if (message.starts_with(NoPlugin)) {
            const std::string_view rest = std::string_view(message).substr(NoPlugin.size());
            return "no display platform \"" + std::string(rest.substr(0, rest.find('"'))) +
                "\" is installed (QT_QPA_PLATFORM)";
        }
    }
    return toolkitMessages.empty() ? std::string("the toolkit gave no reason")
                                   : FirstLine(toolkitMessages.front());
}

DisplayCheck::DisplayCheck()
{
    previous = qInstallMessageHandler(AtStartUp);
    checking = true;
}

DisplayCheck::~DisplayCheck()
{
    Finish();
}

void DisplayCheck::Finish()
{
    if (!checking)
        return;
    checking = false;
    qInstallMessageHandler(previous);
    for (const Held &message : held) {
        const QMessageLogContext context(nullptr, 0, nullptr, message.category);
        qt_message_output(message.type, context, message.text);
    }
    held.clear();
}

} // namespace lumacast
