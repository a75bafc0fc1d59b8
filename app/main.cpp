#include "app/Modes.h"

#include "picture/DecodeThread.h"
#include "platform/Platform.h"
#include "platform/StartupTrace.h"

int main(int argc, char **argv)
{
    startupMark("main");
    installPlatform(makeSystemPlatform());
    QStringList arguments;
    for (int i = 1; i < argc; ++i)
        arguments << QString::fromLocal8Bit(argv[i]);
    return endProcessAfterDecodes(runMode(chooseMode(arguments), argc, argv));
}
