#include "platform/SecretFile.h"

#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>
#include <system_error>
#include <unistd.h>

namespace lumacast {

std::optional<std::string> ReadSecretFile(const std::string &path, std::string &why)
{
    constexpr long long Largest = 4096;
    // A FIFO or a device would block or never end: only a regular file opens.
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK);
    if (fd < 0) {
        why = std::generic_category().message(errno);
        return std::nullopt;
    }
    struct stat info { };
    std::string text;
    if (::fstat(fd, &info) != 0) {
        why = std::generic_category().message(errno);
    } else if (!S_ISREG(info.st_mode)) {
        why = "not a regular file";
    } else if (info.st_size > Largest) {
        why = "longer than " + std::to_string(Largest) + " bytes";
    } else {
        char buffer[Largest + 1];
        std::size_t got = 0;
        for (;;) {
            const ssize_t n = ::read(fd, buffer + got, sizeof buffer - got);
            if (n < 0 && errno == EINTR)
                continue;
            if (n < 0) {
                why = std::generic_category().message(errno);
                break;
            }
            if (n == 0)
                break;
            got += static_cast<std::size_t>(n);
            if (got > static_cast<std::size_t>(Largest)) {
                why = "longer than " + std::to_string(Largest) + " bytes";
                break;
            }
        }
        if (why.empty())
            text.assign(buffer, got);
    }
    ::close(fd);
    if (!why.empty())
        return std::nullopt;
    if (!text.empty() && text.back() == '\n')
        text.pop_back();
    if (!text.empty() && text.back() == '\r')
        text.pop_back();
    return text;
}

} // namespace lumacast
