#include "ui/MessageBox.h"

#include <QAbstractButton>
#include <QApplication>
#include <QClipboard>
#include <QFontDatabase>
#include <QKeyEvent>
#include <QPointer>
#include <QPushButton>
#include <QScreen>

namespace lumacast {
namespace {

// Japanese faces of Debian, the one the package depends on first. Naming
// them keeps Japanese glyph forms where a fallback might pick Chinese ones.
const char *const JapaneseFaces[] = {"Sawarabi Gothic", "Noto Sans CJK JP", "IPAexGothic",        "IPAGothic",
                                     "VL Gothic",       "TakaoGothic",      "Droid Sans Fallback"};

class TMessageBox : public QMessageBox {
public:
    TMessageBox(QWidget *parent, bool beepOnCopy) : QMessageBox(parent), beepOnCopy_(beepOnCopy) { }

protected:
    void showEvent(QShowEvent *event) override
    {
        QMessageBox::showEvent(event); // settles the size first
        QScreen *screen = parentWidget() ? parentWidget()->screen() : QGuiApplication::primaryScreen();
        if (!screen)
            return;
        QRect frame = frameGeometry();
        frame.moveCenter(screen->availableGeometry().center());
        move(frame.topLeft());
    }

    void keyPressEvent(QKeyEvent *event) override
    {
        if (!event->matches(QKeySequence::Copy)) {
            QMessageBox::keyPressEvent(event);
            return;
        }
        if (beepOnCopy_)
            QApplication::beep();
        QStringList captions;
        for (const QAbstractButton *button : buttons())
            captions << button->text();
        if (QClipboard *clipboard = QGuiApplication::clipboard())
            clipboard->setText(MessageBoxClipboardText(windowTitle(), text(), captions));
        event->accept();
    }

private:
    bool beepOnCopy_;
};

} // namespace

QFont MessageBoxFont()
{
    const QStringList installed = QFontDatabase::families();
    QStringList families;
    for (const char *face : JapaneseFaces)
        if (installed.contains(QLatin1String(face), Qt::CaseInsensitive))
            families << QLatin1String(face);
    if (families.isEmpty()) {
        const QStringList japanese = QFontDatabase::families(QFontDatabase::Japanese);
        if (!japanese.isEmpty())
            families << japanese.front();
    }
    QFont font = QApplication::font("QMessageBox");
    families << font.families() << font.family();
    font.setFamilies(families);
    return font;
}

void ShowMessageBox(QWidget *parent, const MessageBoxContent &content)
{
    // The box may go while its event loop runs (the program may end).
    QPointer<TMessageBox> box = new TMessageBox(parent, content.beepOnCopy);
    box->setObjectName(QLatin1String(content.objectName));
    box->setFont(MessageBoxFont());
    box->setWindowModality(Qt::ApplicationModal);
    box->setIcon(content.icon);
    box->setWindowTitle(content.title);
    box->setText(content.text);
    box->setTextFormat(Qt::PlainText);
    QPushButton *button = box->addButton(content.buttonCaption, QMessageBox::AcceptRole);
    box->setDefaultButton(button);
    box->setEscapeButton(button);
    box->exec();
    delete box.data();
}

QString MessageBoxClipboardText(const QString &title, const QString &text, const QStringList &buttonCaptions)
{
    const QString crlf = QStringLiteral("\r\n");
    const QString divider = QString(27, u'-') + crlf;
    QString out = divider + title + crlf + divider + text + crlf + divider;
    for (QString caption : buttonCaptions)
        out += caption.remove(u'&') + QStringLiteral("   ");
    return out + crlf + divider;
}

} // namespace lumacast
