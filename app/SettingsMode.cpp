#include "Modes.h"

int runSettingsMode(int &, char **)
{
    // The settings dialog is not built yet: the settings mode ends at once.
    return 0;
}
