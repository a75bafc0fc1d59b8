#include "setup/SpinEdit.h"

#include "platform/Platform.h"

#include <QKeyEvent>
#include <QLineEdit>
#include <algorithm>

SpinEdit::SpinEdit(QWidget *parent) : QSpinBox(parent)
{
    setCorrectionMode(QAbstractSpinBox::CorrectToNearestValue);
}

bool SpinEdit::isAcceptedCharacter(QChar c) const
{
    return (c >= QLatin1Char('0') && c <= QLatin1Char('9')) || c == QLatin1Char('+') || c == QLatin1Char('-')
        || locale().decimalPoint() == QString(c);
}

void SpinEdit::keyPressEvent(QKeyEvent *event)
{
    // Control keys (arrows, backspace, Tab, Enter) carry no printable text and keep
    // their usual meaning; a printable character outside the accepted set only beeps.
    const QString text = event->text();
    const bool printable = !text.isEmpty() && text.at(0).unicode() >= 32 && text.at(0).unicode() != 127;
    if (printable && !(event->modifiers() & (Qt::ControlModifier | Qt::AltModifier | Qt::MetaModifier))) {
        for (const QChar c : text) {
            if (!isAcceptedCharacter(c)) {
                platform().beep();
                event->accept();
                return;
            }
        }
    }
    QSpinBox::keyPressEvent(event);
}

QValidator::State SpinEdit::validate(QString &input, int &) const
{
    for (const QChar c : input) {
        if (!isAcceptedCharacter(c))
            return QValidator::Invalid;
    }
    bool ok = false;
    const int value = input.toInt(&ok);
    if (ok && value >= minimum() && value <= maximum())
        return QValidator::Acceptable;
    return QValidator::Intermediate;
}

void SpinEdit::fixup(QString &input) const
{
    bool ok = false;
    const qlonglong value = input.toLongLong(&ok);
    if (!ok) {
        input = QString::number(minimum());
        return;
    }
    input = QString::number(std::clamp(value, qlonglong(minimum()), qlonglong(maximum())));
}

int SpinEdit::textValue() const
{
    bool ok = false;
    const int value = lineEdit()->text().toInt(&ok);
    return ok ? value : minimum();
}
