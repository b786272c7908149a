#include "app/GuardScope.h"

#include "platform/UserSession.h"

#include <cstdint>
#include <cstdlib>
#include <string_view>

namespace lumacast {
namespace {

std::string_view Value(const EnvironmentLookup &environment, const char *name)
{
    const char *text = environment(name);
    return text != nullptr ? std::string_view(text) : std::string_view();
}

bool Alphanumeric(unsigned char c)
{
    return (c >= '0' && c <= '9') || (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z');
}

bool Digits(std::string_view text)
{
    for (const char c : text)
        if (c < '0' || c > '9')
            return false;
    return !text.empty();
}

// logind names its sessions with letters and digits only; anything else is
// not a session name and is passed over.
bool ValidSession(std::string_view id)
{
    for (const unsigned char c : id)
        if (!Alphanumeric(c))
            return false;
    return !id.empty() && id.size() <= 64;
}

// ":0", ":0.0" and "unix:0" are one display: the screen number and the local
// transport's name do not tell displays apart.
std::string X11Display(std::string_view display)
{
    const std::size_t colon = display.rfind(':');
    if (colon == std::string_view::npos)
        return {};
    std::string_view host = display.substr(0, colon);
    std::string_view number = display.substr(colon + 1);
    number = number.substr(0, number.find('.'));
    if (!Digits(number))
        return {};
    if (host == "unix")
        host = {};
    return std::string(host) + ':' + std::string(number);
}

// The display that the toolkit opens the window on, picked as it picks it:
// the first platform that QT_QPA_PLATFORM names, otherwise Wayland in a
// Wayland session and X11 elsewhere. Empty for a platform without one.
std::string Display(const EnvironmentLookup &environment)
{
    std::string_view platform = Value(environment, "QT_QPA_PLATFORM");
    platform = platform.substr(0, platform.find(';'));
    platform = platform.substr(0, platform.find(':'));
    if (platform.empty())
        platform = Value(environment, "XDG_SESSION_TYPE") == "wayland" ? "wayland" : "xcb";
    if (platform.starts_with("wayland")) {
        const std::string_view name = Value(environment, "WAYLAND_DISPLAY");
        return name.empty() ? std::string("wayland-0") : std::string(name);
    }
    if (platform == "xcb")
        return X11Display(Value(environment, "DISPLAY"));
    return {};
}

// Letters, digits, '-', '_' and ':' stay and every other byte becomes %XX, so
// the text can hold neither a '/' nor "..". A long text becomes its hash
// ('+' marks it), so that the name stays within a file name's limit.
std::string Escaped(std::string_view text)
{
    static const char hex[] = "0123456789ABCDEF";
    std::string out;
    for (const unsigned char c : text) {
        if (Alphanumeric(c) || c == '-' || c == '_' || c == ':') {
            out += static_cast<char>(c);
        } else {
            out += '%';
            out += hex[c >> 4];
            out += hex[c & 15];
        }
    }
    if (out.size() <= 128)
        return out;
    std::uint64_t hash = 14695981039346656037ull; // FNV-1a
    for (const unsigned char c : text)
        hash = (hash ^ c) * 1099511628211ull;
    out = "+";
    for (int shift = 60; shift >= 0; shift -= 4)
        out += hex[(hash >> shift) & 15];
    return out;
}

} // namespace

std::string InstanceGuardFileName(std::optional<std::uint32_t> auditSession,
                                  const EnvironmentLookup &environment)
{
    std::string name = InstanceGuardName;
    // logind names a session after its audit session where there is one, so
    // both readings of one logon give one name.
    if (auditSession) {
        name += ".session-";
        name += std::to_string(*auditSession);
    } else if (const std::string_view session = Value(environment, "XDG_SESSION_ID"); ValidSession(session)) {
        name += ".session-";
        name += session;
    } else if (const std::string shown = Display(environment); !shown.empty()) {
        name += ".display-";
        name += Escaped(shown);
    }
    return name + ".lock";
}

std::string InstanceGuardFileName()
{
    return InstanceGuardFileName(AuditSession(),
                                 [](const char *name) -> const char * { return std::getenv(name); });
}

} // namespace lumacast
