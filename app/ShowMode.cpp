#include "Modes.h"

int runShowMode(int &, char **)
{
    // The show window is not built yet: the run and preview modes end at once.
    return 0;
}
