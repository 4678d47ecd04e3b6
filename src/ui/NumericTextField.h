#pragma once

#include <QLineEdit>

#include <optional>

namespace orvane {

// A text field bound to an integer. Whatever the user types stays on screen, but only a
// text that is a whole decimal number (an optional leading sign, digits, nothing else)
// moves the value; "12a" or an emptied field keep the value last typed correctly, so a
// half-edited field never saves garbage.
class NumericTextField : public QLineEdit {
    Q_OBJECT

public:
    explicit NumericTextField(QWidget* parent = nullptr);

    qint64 value() const { return value_; }
    // Shows the value as text; no valueChanged, since the caller set it.
    void setValue(qint64 value);

    // The number `text` stands for, when it is one.
    static std::optional<qint64> parse(const QString& text);

signals:
    void valueChanged(qint64 value);

private:
    qint64 value_ = 0;
    bool updating_ = false;
};

} // namespace orvane
