#include "setup/FixedDialog.h"

#include "setup/CaptionFit.h"

#include <QDialog>
#include <QLineEdit>
#include <QScreen>

void setUpFixedDialog(QDialog *dialog, const QSize &size, const QList<QWidget *> &largeText)
{
    dialog->setWindowFlags((dialog->windowFlags() & ~Qt::WindowContextHelpButtonHint)
                           | Qt::MSWindowsFixedSizeDialogHint);
    QFont base = dialog->font();
    base.setPixelSize(12);
    dialog->setFont(base);
    for (QWidget *large : largeText) {
        QFont f = large->font();
        f.setPixelSize(16);
        large->setFont(f);
    }
    dialog->setFixedSize(size);
    // The fonts first: the captions are measured in them.
    fitCaptions(dialog);
    centreOnScreen(dialog);
}

void showAsText(QLineEdit *edit)
{
    QPalette shown = edit->palette();
    shown.setColor(QPalette::Base, edit->window()->palette().color(QPalette::Button));
    edit->setPalette(shown);
}

void centreOnScreen(QWidget *window)
{
    const QScreen *screen = window->screen();
    if (!screen)
        return;
    const QRect area = screen->geometry();
    window->move(area.x() + (area.width() - window->width()) / 2, area.y() + (area.height() - window->height()) / 2);
}
