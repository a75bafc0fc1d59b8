#include "setup/CaptionFit.h"

#include <QAbstractButton>
#include <QCheckBox>
#include <QLabel>
#include <QRadioButton>
#include <QStyle>

#include <optional>

namespace {

// The rightmost x that `widget` may reach without covering a sibling to its right (one
// that shares some of its rows); empty when no sibling stands there.
std::optional<int> siblingLimit(const QWidget *widget)
{
    const QWidget *parent = widget->parentWidget();
    std::optional<int> limit;
    const QRect own = widget->geometry();
    for (const QObject *object : parent->children()) {
        const auto *sibling = qobject_cast<const QWidget *>(object);
        if (!sibling || sibling == widget || sibling->isWindow())
            continue;
        const QRect other = sibling->geometry();
        if (other.left() <= own.right() || other.bottom() < own.top() || other.top() > own.bottom())
            continue;
        if (!limit || other.left() - 1 < *limit)
            limit = other.left() - 1;
    }
    return limit;
}

// Makes `widget` at least `width` wide, keeping its left edge; grows its parents as needed.
void growTo(QWidget *widget, int width)
{
    if (widget->width() >= width)
        return;
    if (widget->isWindow()) {
        if (widget->minimumWidth() == widget->maximumWidth())
            widget->setFixedWidth(width);
        else
            widget->resize(width, widget->height());
        return;
    }
    QWidget *parent = widget->parentWidget();
    if (const std::optional<int> limit = siblingLimit(widget)) {
        widget->resize(qMin(width, *limit - widget->x() + 1), widget->height());
        return;
    }
    // The margin kept on the right: what the control has there now, but no more than on
    // its left (a control with much room beside it may use it).
    const int margin = qMax(0, qMin(widget->x(), parent->width() - widget->x() - widget->width()));
    growTo(parent, widget->x() + width + margin);
    widget->resize(qMin(width, parent->width() - widget->x() - margin), widget->height());
}

} // namespace

int captionWidth(const QWidget *control)
{
    if (const auto *label = qobject_cast<const QLabel *>(control)) {
        if (label->wordWrap() || label->text().isEmpty() || !label->pixmap().isNull())
            return 0;
        return label->sizeHint().width();
    }
    // Check boxes and radio buttons: the indicator, its spacing and the text.
    if (qobject_cast<const QCheckBox *>(control) || qobject_cast<const QRadioButton *>(control))
        return control->sizeHint().width();
    // Push and tool buttons: the text between the style's button margins. (Their size hint
    // adds the style's smallest button width, which says nothing about the caption.)
    if (const auto *button = qobject_cast<const QAbstractButton *>(control)) {
        if (button->text().isEmpty())
            return 0;
        const int margin = control->style()->pixelMetric(QStyle::PM_ButtonMargin, nullptr, control);
        return button->fontMetrics().horizontalAdvance(button->text()) + 2 * margin;
    }
    return 0;
}

void fitCaptions(QWidget *form)
{
    for (QWidget *control : form->findChildren<QWidget *>()) {
        if (control->objectName().startsWith(QLatin1String("qt_")))
            continue;
        const int needed = captionWidth(control);
        if (needed > control->width())
            growTo(control, needed);
    }
}
