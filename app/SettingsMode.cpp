#include "app/Modes.h"

#include "platform/JapaneseFonts.h"
#include "setup/QtTranslation.h"
#include "setup/Sample.h"
#include "setup/Setup.h"

#include <QApplication>
#include <QPointer>

int runSettingsMode(int &argc, char **argv)
{
    QApplication application(argc, argv);
    installJapaneseFontSubstitutions();
    installQtJapaneseTranslation();

    // The sample window comes first, at the screen's top-left corner; the dialog redraws
    // it from its creation on. It frees itself when it is closed, else with the process.
    const QPointer<TSampleForm> sample = new TSampleForm;
    sample->show();

    // The dialog runs modally; when it closes, with OK or Cancel, the program ends.
    {
        TSetupForm dialog(makeSystemSetupDialogs(), nullptr, sample);
        dialog.exec();
    }
    delete sample.data();
    return 0;
}
