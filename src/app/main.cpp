#include "ui/Main.h"
#include "ProgramInfo.h"
#include "app/Application.h"
#include "app/DarkStyle.h"
#include "app/GuardScope.h"
#include "platform/InstanceGuard.h"

#include <QIcon>

using namespace lumacast;

int main(int argc, char **argv)
{
    // The guard comes first: a copy that gives way shows nothing at all.
    if (TakeInstanceGuard(InstanceGuardFileName()) == GuardOutcome::HeldElsewhere)
        return 0;

    TApplication app(argc, argv);
    QIcon icon;
    for (int size : ProgramIconSizes)
        icon.addFile(QStringLiteral(":/icons/lumacast2-%1.png").arg(size), QSize(size, size));
    TApplication::setWindowIcon(icon);
    // Ties the window to the installed desktop file (its icon on Wayland docks).
    TApplication::setDesktopFileName(QStringLiteral(LC_APP_ID));
    TApplication::setQuitOnLastWindowClosed(true);

    SelectStyle(QString::fromLatin1(DarkStyleName));

    auto *form = new TMainForm();
    MainForm = form;
    RunHandler([form] { form->FormCreate(); });
    form->show();
    TApplication::exec();

    // Nothing may reach the window once its end has begun: stop the polling
    // thread, cut the hand-offs off and wait for the thread first.
    EndPolling();
    form->hide();
    RunHandler([form] { form->FormDestroy(); });
    delete form;
    return 0;
}
