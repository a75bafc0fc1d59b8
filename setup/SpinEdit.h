#pragma once

#include <QSpinBox>

// A spin edit for whole numbers that takes from the keyboard only digits, "+", "-" and
// the decimal separator and beeps at any other character. While the user types, any text
// of those characters stands; when the focus leaves, a number outside the range is pulled
// to the nearer limit and a text that is not a number becomes the minimum.
class SpinEdit : public QSpinBox
{
    Q_OBJECT

public:
    explicit SpinEdit(QWidget *parent = nullptr);

    // The value of the text as it stands: the minimum when it is not a number, so that
    // a value read before the focus left follows the same rule.
    int textValue() const;

protected:
    void keyPressEvent(QKeyEvent *event) override;
    QValidator::State validate(QString &input, int &pos) const override;
    void fixup(QString &input) const override;

private:
    bool isAcceptedCharacter(QChar c) const;
};
