#pragma once

#include <functional>
#include <memory>

class TerminationSignal;

// SIGTERM, the way daemons and session managers end a program, ends the mode: every open
// dialog and message box is closed as if cancelled, so that their own event loops end,
// and then `end` runs. Call it as soon as the application object exists, before anything
// can wait. Null when the signal cannot be caught.
std::unique_ptr<TerminationSignal> endOnTermination(std::function<void()> end);
