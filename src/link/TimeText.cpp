#include "link/TimeText.h"

#include <QDateTime>

namespace lumacast {

std::string IsoTimeUtc(std::chrono::system_clock::time_point when)
{
    const auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(when.time_since_epoch()).count();
    return QDateTime::fromMSecsSinceEpoch(ms, Qt::UTC).toString(Qt::ISODateWithMs).toStdString();
}

} // namespace lumacast
