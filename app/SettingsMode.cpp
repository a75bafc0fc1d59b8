#include "app/Modes.h"
#include "app/Termination.h"

#include "platform/DisplaySession.h"
#include "platform/JapaneseFonts.h"
#include "platform/TerminationSignal.h"
#include "setup/QtTranslation.h"
#include "setup/Sample.h"
#include "setup/Setup.h"

#include <QApplication>
#include <QPointer>

int runSettingsMode(int &argc, char **argv)
{
    chooseDisplayPlatform(false);
    QApplication application(argc, argv);
    // SIGTERM cancels the dialog (and whatever box or dialog is open above it).
    const auto termination = endOnTermination([] {});
    installJapaneseFontSubstitutions();
    installQtJapaneseTranslation();

    // The sample window comes first, at the screen's top-left corner (on Wayland where
    // the compositor puts it); the dialog redraws it from its creation on. It frees
    // itself when it is closed, else with the process.
    const QPointer<TSampleForm> sample = new TSampleForm;
    sample->show();

    // The dialog runs modally; when it closes, with OK or Cancel, the program ends.
    {
        TSetupForm dialog(makeSystemSetupDialogs(), nullptr, sample);
        if (!terminationPending())
            dialog.exec();
    }
    delete sample.data();
    return 0;
}
