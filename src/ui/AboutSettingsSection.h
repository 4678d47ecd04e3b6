#pragma once

#include <QWidget>

class QLabel;

namespace orvane {

// The About page of the settings: the product, what it is, and the running version.
class AboutSettingsSection : public QWidget {
    Q_OBJECT

public:
    static constexpr char productName[] = "Orvane";
    static constexpr char description[] = "halvex target 被控客户端";

    explicit AboutSettingsSection(QWidget* parent = nullptr);

    void setVersion(const QString& version);

private:
    QLabel* version_;
};

} // namespace orvane
