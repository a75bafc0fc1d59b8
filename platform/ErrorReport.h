#pragma once

#include <QString>
#include <functional>

// The application's general error report: one modal critical message box with the
// application's title as caption and one OK button (no box once SIGTERM has arrived: the
// text goes to the log). Tests install a sink that records the texts instead, so that
// no box ever blocks a test run.
using ErrorSink = std::function<void(const QString &text)>;

void reportError(const QString &text);

// Replaces the message box by `sink`; an empty sink restores the message box.
void setErrorSink(ErrorSink sink);

// The caption of message boxes: the executable's name without its extension.
QString applicationTitle();

// Runs `work` and hands any exception that leaves it to reportError, so that no
// exception ever crosses Qt's event loop. Returns false when something was reported.
bool runGuarded(const std::function<void()> &work) noexcept;
