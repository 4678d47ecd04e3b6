#pragma once

#include <QWidget>

class QLabel;

namespace orvane {

// The short result banner over the panel (a send's outcome). It only shows what it is
// given; how long a toast stays is decided by whoever sets it.
class ToastBanner : public QWidget {
    Q_OBJECT

public:
    enum class Kind { success, error, warning };

    explicit ToastBanner(QWidget* parent = nullptr);

    void showToast(const QString& message, Kind kind);
    void clearToast();

    QString message() const;
    Kind kind() const { return kind_; }

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    QLabel* icon_;
    QLabel* text_;
    Kind kind_ = Kind::success;
};

} // namespace orvane
