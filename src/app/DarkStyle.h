#pragma once

#include <QByteArray>
#include <QPalette>
#include <QString>

namespace lumacast {

// The style the program asks for at start-up.
inline constexpr const char *DarkStyleName = "Metropolis UI Dark";
// Where the program keeps its stored styles (a Qt resource folder).
inline constexpr const char *StoredStyleFolder = ":/styles";

// A stored style: its name, the toolkit style it draws with and its colours.
struct StyleDescription {
    QString name;
    QString base;
    QPalette palette;
};

// Reads one stored style (JSON). Throws std::runtime_error when it cannot be
// read: bad JSON, no name, an unknown colour role or colour.
StyleDescription ParseStyleDescription(const QByteArray &json);

// Makes the style named `name` (case ignored) the style of every window and
// box of the program. The styles stored in `folder` are registered at the
// first selection; one that cannot be read throws std::runtime_error. When
// no style has the name, shows the error box and leaves the look as it was.
bool SelectStyle(const QString &name, const QString &folder = QString::fromLatin1(StoredStyleFolder));

// The name of the active stored style, empty when none is active.
QString ActiveStyleName();

} // namespace lumacast
