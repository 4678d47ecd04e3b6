#include "ui/NumericTextField.h"

#include <optional>

namespace orvane {

NumericTextField::NumericTextField(QWidget* parent)
    : QLineEdit(parent) {
    setText(QString::number(value_));
    connect(this, &QLineEdit::textChanged, this, [this](const QString& text) {
        if (updating_) {
            return;
        }
        const auto parsed = parse(text);
        if (parsed && *parsed != value_) {
            value_ = *parsed;
            emit valueChanged(value_);
        }
    });
}

void NumericTextField::setValue(qint64 value) {
    value_ = value;
    updating_ = true;
    setText(QString::number(value));
    updating_ = false;
}

std::optional<qint64> NumericTextField::parse(const QString& text) {
    qsizetype digitsFrom = 0;
    if (!text.isEmpty() && (text[0] == u'+' || text[0] == u'-')) {
        digitsFrom = 1;
    }
    if (digitsFrom == text.size()) {
        return std::nullopt; // empty, or a sign alone
    }
    for (qsizetype i = digitsFrom; i < text.size(); ++i) {
        // ASCII digits only: QChar::isDigit would let other scripts' digits through.
        if (text[i] < u'0' || text[i] > u'9') {
            return std::nullopt;
        }
    }
    bool ok = false;
    const qint64 value = text.toLongLong(&ok, 10);
    if (!ok) {
        return std::nullopt; // beyond 64 bits
    }
    return value;
}

} // namespace orvane
