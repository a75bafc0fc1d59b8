#include "Modes.h"

#include "JapaneseFonts.h"
#include "Setup.h"

#include <QApplication>

int runSettingsMode(int &argc, char **argv)
{
    QApplication application(argc, argv);
    installJapaneseFontSubstitutions();

    // The sample window comes here: it is created and shown before the dialog, as the
    // application's main window, and lives until the process ends.

    // The dialog runs modally; when it closes, with OK or Cancel, the program ends.
    TSetupForm dialog;
    dialog.exec();
    return 0;
}
