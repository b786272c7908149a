#include "ui/Main.h"
#include "ProgramInfo.h"
#include "app/AppText.h"
#include "app/Application.h"
#include "app/DarkStyle.h"
#include "app/DisplayCheck.h"
#include "app/GuardScope.h"
#include "platform/EndSignals.h"
#include "platform/HandOff.h"
#include "platform/InstanceGuard.h"
#include "platform/OpenFileLimit.h"
#include "platform/Process.h"
#include "platform/UserSession.h"

#include <QIcon>

#include <chrono>
#include <cstdint>
#include <cstdio>

using namespace lumacast;

namespace {

// How long the end waits for a polling thread: its stop latency and half as
// much again for a loaded machine. The connect, the lookup and a send waiting
// for room end on the stop request.
constexpr std::chrono::milliseconds PollerEndWait = StopLatency * 3 / 2;

// Open descriptors: a soft limit below what the panel asks for is raised
// towards the hard limit. Below what it needs (the display connection and the
// toolkit's shared-memory painting, the discovery sockets and threads, a
// connection, with room to spare) the toolkit would block for ever waiting
// for a display that it can no longer talk to.
constexpr std::uint64_t OpenFilesWanted = 1024;
constexpr std::uint64_t OpenFilesNeeded = 64;

char programName[] = "lumacast2";

} // namespace

int main(int argc, char **argv)
{
    // Before any thread exists, so that no thread takes these signals' default
    // action: they reach the event loop instead.
    BlockEndSignals();

    const std::uint64_t openFiles = RaiseOpenFileLimit(OpenFilesWanted);

    // The guard comes first: a copy that gives way shows nothing at all.
    if (TakeInstanceGuard(InstanceGuardFileName()) == GuardOutcome::HeldElsewhere)
        return 0;

    if (openFiles < OpenFilesNeeded) {
        std::fputs(TooFewOpenFilesText(openFiles, OpenFilesNeeded).c_str(), stderr);
        return 1;
    }
    KeepSessionBusFromAutolaunching();

    // The program takes no arguments: the toolkit sees only the program's
    // name, so none of its own options is read.
    int toolkitArgc = 1;
    char *toolkitArgv[] = {argc > 0 && argv[0] != nullptr ? argv[0] : programName, nullptr};
    DisplayCheck displayCheck;
    Application app(toolkitArgc, toolkitArgv);
    displayCheck.Finish();
    QIcon icon;
    for (int size : ProgramIconSizes)
        icon.addFile(QStringLiteral(":/icons/lumacast2-%1.png").arg(size), QSize(size, size));
    Application::setWindowIcon(icon);
    // Ties the window to the installed desktop file (its icon on Wayland docks).
    Application::setDesktopFileName(QStringLiteral(LC_APP_ID));
    Application::setQuitOnLastWindowClosed(true);

    SelectStyle(QString::fromLatin1(DarkStyleName));

    auto *form = new TMainForm();
    MainForm = form;
    // A signal closes the windows as the user would; an open box goes too,
    // also one raised while the window is created.
    bool endRequested = false;
    const EndSignalWatcher endSignals([&endRequested] {
        endRequested = true;
        Application::closeAllWindows();
    });
    RunHandler([form] { form->FormCreate(); });
    if (!endRequested) {
        form->show();
        Application::exec();
    }

    // Nothing may reach the window once its end has begun: stop the polling
    // thread, cut the hand-offs off and wait for the thread, but not forever.
    const bool pollerEnded = EndPolling(*form, PollerEndWait);
    form->hide();
    RunHandler([form] { form->FormDestroy(); });
    if (!pollerEnded) {
        // The thread can no longer reach the window, but it could reach what
        // the process's own end destroys: end without running destructors.
        // The kernel releases the guard and the port.
        EndProcessAtOnce(0);
    }
    delete form;
    return 0;
}
