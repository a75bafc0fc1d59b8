#pragma once

#include <QColor>
#include <QString>
#include <memory>
#include <optional>

class QWidget;

// The modal dialogs the settings dialog opens on top of itself. The program uses the
// real ones; tests put in answers without any modal dialog running.
class SetupDialogs
{
public:
    virtual ~SetupDialogs() = default;

    // The frame picture's open-file dialog, starting at `start` (the file chosen last,
    // or empty). Empty when the user cancels.
    virtual std::optional<QString> chooseFramePicture(QWidget *parent, const QString &start) = 0;

    // The clock colour dialog, starting at `initial`. Empty when the user cancels.
    virtual std::optional<QColor> chooseColor(QWidget *parent, const QColor &initial) = 0;

    // The folder picker; the chosen folder as a full path, empty when not confirmed.
    virtual std::optional<QString> chooseFolder(QWidget *parent) = 0;

    // A modal message with one OK button and the application's title as caption.
    virtual void showMessage(QWidget *parent, const QString &text) = 0;
};

std::unique_ptr<SetupDialogs> makeSystemSetupDialogs();
