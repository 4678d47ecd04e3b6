#pragma once

#include <QObject>
#include <QSize>

#include <optional>

class QWidget;

namespace orvane {

// Keeps the window tall enough for what it shows: 1010 high with the serial debug log,
// 719 without, never below 536 x 719. A taller window is left alone, so turning the log
// off never shrinks it. Applied when the flag changes, when the window is resized and
// when the owner calls apply() (the window is shown).
class WindowSizeConfigurator : public QObject {
    Q_OBJECT

public:
    static constexpr QSize minimumSize{536, 719};
    static constexpr int idealWidth = 616;
    static constexpr int logHeight = 1010;
    static constexpr int plainHeight = 719;

    explicit WindowSizeConfigurator(QWidget* window);

    static int targetHeight(bool serialDebugLogEnabled) {
        return serialDebugLogEnabled ? logHeight : plainHeight;
    }
    // The size the window must take, or nothing when it is tall enough (within 2 px).
    static std::optional<QSize> resizedContent(QSize current, bool serialDebugLogEnabled);

    bool serialDebugLogEnabled() const { return serialDebugLogEnabled_; }
    void setSerialDebugLogEnabled(bool enabled);

    void apply();

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    QWidget* window_;
    bool serialDebugLogEnabled_ = false;
};

} // namespace orvane
