#pragma once

#include <QtGlobal>

// The screen-save system command: only the whole value 0xF140 is answered (as handled,
// result 1); every other command, flag bits included, goes to the default handling.
constexpr quint32 ScScreenSave = 0xF140;
constexpr bool handlesSystemCommand(quint32 command)
{
    return command == ScScreenSave;
}
