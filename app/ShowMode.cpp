#include "app/Modes.h"
#include "app/Termination.h"

#include "platform/DisplaySession.h"
#include "platform/JapaneseFonts.h"
#include "platform/PreviewParent.h"
#include "platform/StartupTrace.h"
#include "platform/TerminationSignal.h"
#include "platform/X11Window.h"
#include "settings/SettingsText.h"
#include "show/Main.h"

#include <QApplication>
#include <QTimer>
#include <cstdio>
#include <memory>

int runShowMode(int &argc, char **argv)
{
    // A preview draws into an X window: with no X server there is nothing to draw into.
    if (!chooseDisplayPlatform(previewParent() != 0)) {
        std::fputs("pantel: the preview draws into an X11 window, but no X server can be reached\n", stderr);
        return 1;
    }
    QApplication app(argc, argv);
    startupMark("application");
    // The daemon may end the saver at any moment, also while a start-up failure is shown
    // in a message box; then the box closes and the program ends.
    std::unique_ptr<TPantelForm> form;
    const auto termination = endOnTermination([&form] {
        if (form)
            form->closeWithoutPrompt();
    });
    installJapaneseFontSubstitutions();
    // The show window decides when the program ends: it closes, then the loop ends.
    app.setQuitOnLastWindowClosed(false);

    // Screen-saver daemons (XScreenSaver, xfce4-screensaver, mate-screensaver) start the
    // saver with "-root" or nothing and name the window to draw into in
    // XSCREENSAVER_WINDOW. That window is then the preview parent: the saver draws into
    // it at its own scale and leaves input and locking to the daemon.
    if (previewParent() == 0 && runsOnX11()) {
        const QString daemonWindow = qEnvironmentVariable("XSCREENSAVER_WINDOW").trimmed();
        const quint32 window = quint32(parseIntegerOr(daemonWindow, 0));
        if (window != 0 && x11WindowSize(window))
            setPreviewParent(window);
    }

    // The first frame shows the frame alone, which needs neither fonts nor pictures: the
    // font configuration (the longest step on the way, read for the clock's text), the
    // catalogue and the first picture follow once it is on screen.
    TPantelForm::Environment environment;
    environment.frameFirst = true;
    form = std::make_unique<TPantelForm>(std::move(environment));
    if (form->closing() || terminationPending())
        return 0;
    // A failure reported during creation can leave the window unshown; shown, it still
    // ends on the first key or click instead of running unseen for ever.
    if (!form->isVisible()) {
        if (form->isPreview())
            form->show();
        else
            form->showFullScreen();
    }
    startupMark("window");
    QObject::connect(form.get(), &TPantelForm::closed, &app, &QCoreApplication::quit, Qt::QueuedConnection);

    // When the system discards the preview, its window goes and the miniature with it.
    QTimer parentWatch;
    if (form->isPreview()) {
        const quint32 parent = previewParent();
        QObject::connect(&parentWatch, &QTimer::timeout, form.get(), [&form, parent] {
            if (!x11WindowSize(parent))
                form->closeWithoutPrompt();
        });
        parentWatch.start(1000);
    }
    app.exec();
    form.reset();
    return 0;
}
