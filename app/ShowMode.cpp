#include "Modes.h"

#include "ErrorReport.h"
#include "JapaneseFonts.h"
#include "Main.h"
#include "PreviewParent.h"
#include "TerminationSignal.h"
#include "X11Window.h"

#include <QApplication>
#include <QTimer>
#include <memory>

int runShowMode(int &argc, char **argv)
{
    QApplication app(argc, argv);
    installJapaneseFontSubstitutions();
    // The show window decides when the program ends: it closes, then the loop ends.
    app.setQuitOnLastWindowClosed(false);

    std::unique_ptr<TPantelForm> form;
    std::unique_ptr<TerminationSignal> termination;
    runGuarded([&] { termination = std::make_unique<TerminationSignal>(); });
    form = std::make_unique<TPantelForm>();
    if (form->closing())
        return 0;
    // A failure reported during creation can leave the window unshown; shown, it still
    // ends on the first key or click instead of running unseen for ever.
    if (!form->isVisible()) {
        if (form->isPreview())
            form->show();
        else
            form->showFullScreen();
    }
    QObject::connect(form.get(), &TPantelForm::closed, &app, &QCoreApplication::quit, Qt::QueuedConnection);
    if (termination)
        QObject::connect(termination.get(), &TerminationSignal::terminationRequested, form.get(),
                         &TPantelForm::closeWithoutPrompt);

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
