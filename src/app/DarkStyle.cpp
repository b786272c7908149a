#include "app/DarkStyle.h"

#include "app/AppText.h"
#include "app/ErrorBox.h"
#include "ui/MessageBox.h"
#include "ui/WindowText.h"

#include <QApplication>
#include <QDir>
#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>
#include <QMetaEnum>
#include <QPointer>
#include <QProxyStyle>
#include <QStyleFactory>

#include <map>
#include <stdexcept>
#include <vector>

namespace lumacast {
namespace {

[[noreturn]] void Unreadable(const QString &why)
{
    throw std::runtime_error(("stored style cannot be read: " + why).toStdString());
}

void ReadColours(const QJsonObject &colours, QPalette::ColorGroup group, QPalette &palette)
{
    const QMetaEnum roles = QMetaEnum::fromType<QPalette::ColorRole>();
    for (auto it = colours.begin(); it != colours.end(); ++it) {
        bool known = false;
        const int role = roles.keyToValue(it.key().toLatin1().constData(), &known);
        if (!known || role == QPalette::NoRole || role >= QPalette::NColorRoles)
            Unreadable(QStringLiteral("unknown colour role '%1'").arg(it.key()));
        const QColor colour = QColor::fromString(it.value().toString());
        if (!it.value().isString() || !colour.isValid())
            Unreadable(QStringLiteral("bad colour for '%1'").arg(it.key()));
        if (group == QPalette::All)
            palette.setColor(static_cast<QPalette::ColorRole>(role), colour);
        else
            palette.setColor(group, static_cast<QPalette::ColorRole>(role), colour);
    }
}

// A toolkit style under a stored name, drawing with the stored colours.
class StoredStyle : public QProxyStyle {
public:
    StoredStyle(const StyleDescription &description, QStyle *base)
        : QProxyStyle(base), description_(description)
    {
        setObjectName(description.name);
    }

    const QString &StoredName() const { return description_.name; }

    QPalette standardPalette() const override { return description_.palette; }
    void polish(QPalette &palette) override { palette = description_.palette; }
    using QProxyStyle::polish;

private:
    StyleDescription description_;
};

struct Registry {
    bool registered = false;
    QString folder;
    std::vector<StyleDescription> styles;
};

Registry &TheRegistry()
{
    static Registry r;
    return r;
}

void RegisterStyles(const QString &folder)
{
    Registry &r = TheRegistry();
    if (r.registered && r.folder == folder)
        return;
    std::vector<StyleDescription> styles;
    const QDir dir(folder);
    for (const QString &entry : dir.entryList({QStringLiteral("*.json")}, QDir::Files, QDir::Name)) {
        QFile file(dir.filePath(entry));
        if (!file.open(QIODevice::ReadOnly))
            Unreadable(file.fileName());
        styles.push_back(ParseStyleDescription(file.readAll()));
    }
    r.styles = std::move(styles);
    r.folder = folder;
    r.registered = true;
}

StoredStyle *ActiveStoredStyle()
{
    return dynamic_cast<StoredStyle *>(QApplication::style());
}

} // namespace

StyleDescription ParseStyleDescription(const QByteArray &json)
{
    QJsonParseError error{};
    const QJsonDocument doc = QJsonDocument::fromJson(json, &error);
    if (error.error != QJsonParseError::NoError)
        Unreadable(error.errorString());
    if (!doc.isObject())
        Unreadable(QStringLiteral("not an object"));
    const QJsonObject root = doc.object();

    StyleDescription style;
    style.name = root.value(QStringLiteral("name")).toString();
    if (style.name.trimmed().isEmpty())
        Unreadable(QStringLiteral("no name"));
    style.base = root.value(QStringLiteral("base")).toString(QStringLiteral("Fusion"));
    if (!QStyleFactory::keys().contains(style.base, Qt::CaseInsensitive))
        Unreadable(QStringLiteral("unknown base style '%1'").arg(style.base));
    if (!root.value(QStringLiteral("colours")).isObject())
        Unreadable(QStringLiteral("no colours"));

    style.palette = QPalette(Qt::black);
    ReadColours(root.value(QStringLiteral("colours")).toObject(), QPalette::All, style.palette);
    ReadColours(root.value(QStringLiteral("disabled")).toObject(), QPalette::Disabled, style.palette);
    ReadColours(root.value(QStringLiteral("inactive")).toObject(), QPalette::Inactive, style.palette);
    return style;
}

bool SelectStyle(const QString &name, const QString &folder)
{
    RegisterStyles(folder);

    if (StoredStyle *active = ActiveStoredStyle();
        active != nullptr && active->StoredName().compare(name, Qt::CaseInsensitive) == 0)
        return true;

    for (const StyleDescription &style : TheRegistry().styles) {
        if (style.name.compare(name, Qt::CaseInsensitive) != 0)
            continue;
        // The application takes ownership of the style.
        auto *stored = new StoredStyle(style, QStyleFactory::create(style.base));
        QApplication::setStyle(stored);
        QApplication::setPalette(style.palette);
        return true;
    }

    ShowMessageBox(nullptr,
                   {StyleNotFoundBoxName, QMessageBox::Critical, QString::fromUtf8(ErrorTitle),
                    StyleNotFoundText(name), QString::fromUtf8(CloseCaption)});
    return false;
}

QString ActiveStyleName()
{
    StoredStyle *active = ActiveStoredStyle();
    return active ? active->StoredName() : QString();
}

} // namespace lumacast
