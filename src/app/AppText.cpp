#include "app/AppText.h"

namespace lumacast {

QString ApplicationTitle(const QString &programFile)
{
    QString name = programFile.mid(programFile.lastIndexOf(u'/') + 1);
    const qsizetype dot = name.indexOf(u'.');
    if (dot >= 0)
        name.truncate(dot);
    if (name.isEmpty())
        return name;
    // A first character outside the BMP is two code units; keep both as they are.
    const qsizetype first = name.at(0).isHighSurrogate() && name.size() > 1 ? 2 : 1;
    return name.left(first) + name.mid(first).toLower();
}

QString ErrorBoxText(const QString &message)
{
    if (message.isEmpty())
        return message;
    const QChar last = message.back();
    // A surrogate is above the full stop whichever half ends the text.
    return last.unicode() > u'.' ? message + u'.' : message;
}

QString StyleNotFoundText(const QString &name)
{
    return QStringLiteral("スタイル '%1' が見つかりません").arg(name);
}

std::string TooFewOpenFilesText(std::uint64_t allowed, std::uint64_t needed)
{
    return "lumacast2: cannot start: " + std::to_string(allowed) +
        " open files are allowed, the panel needs " + std::to_string(needed) +
        " (raise the limit with ulimit -n)\n";
}

} // namespace lumacast
