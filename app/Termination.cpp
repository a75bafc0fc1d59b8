#include "app/Termination.h"

#include "platform/ErrorReport.h"
#include "platform/TerminationSignal.h"

#include <QApplication>
#include <QDialog>
#include <QPointer>

namespace {

// Cancels every dialog on screen. A modal one runs its own event loop, which ends when
// the dialog is done; nested ones all end, each returning to the one below.
void closeOpenDialogs()
{
    QList<QPointer<QDialog>> open;
    for (QWidget *widget : QApplication::topLevelWidgets()) {
        if (auto *dialog = qobject_cast<QDialog *>(widget); dialog && dialog->isVisible())
            open << dialog;
    }
    for (const QPointer<QDialog> &dialog : open) {
        if (dialog)
            dialog->reject();
    }
}

} // namespace

std::unique_ptr<TerminationSignal> endOnTermination(std::function<void()> end)
{
    std::unique_ptr<TerminationSignal> termination;
    runGuarded([&termination] { termination = std::make_unique<TerminationSignal>(); });
    if (termination)
        QObject::connect(termination.get(), &TerminationSignal::terminationRequested, termination.get(),
                         [end = std::move(end)] {
                             closeOpenDialogs();
                             end();
                         });
    return termination;
}
