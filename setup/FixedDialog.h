#pragma once

#include <QList>

class QDialog;
class QLineEdit;
class QSize;
class QWidget;

// What the settings dialog and the folder picker share when they are made: a fixed
// border without the help button, the forms' 12-pixel font (16 pixels for `largeText`),
// the size they were drawn at, captions that fit, and the middle of the screen. Call it
// right after setupUi.
void setUpFixedDialog(QDialog *dialog, const QSize &size, const QList<QWidget *> &largeText = {});

// A read-only edit that shows a text rather than asks for one: on the dialog's own colour.
void showAsText(QLineEdit *edit);

// Places a top-level window in the middle of its screen.
void centreOnScreen(QWidget *window);
