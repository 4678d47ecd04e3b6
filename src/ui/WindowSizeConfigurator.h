#pragma once

#include <QMetaObject>
#include <QObject>
#include <QPointer>
#include <QSize>

#include <optional>

class QScreen;
class QWidget;
class QWindow;

namespace orvane {

// Keeps the window tall enough for what it shows: 1010 high with the serial debug log,
// 719 without, never below 536 x 719. A taller window is left alone, so turning the log
// off never shrinks it. On a screen whose free area is lower than that (a 768-line laptop,
// a 1080p screen at 150 %) the window takes the free area's height instead and its lists
// scroll. Applied when the flag changes, when the window is resized or moves to another
// screen, when that screen's free area changes and when the owner calls apply().
class WindowSizeConfigurator : public QObject {
    Q_OBJECT

public:
    static constexpr QSize minimumSize{536, 719};
    static constexpr int idealWidth = 616;
    static constexpr int logHeight = 1010;
    static constexpr int plainHeight = 719;

    struct Heights {
        int minimum;
        int target;

        friend bool operator==(const Heights&, const Heights&) = default;
    };

    explicit WindowSizeConfigurator(QWidget* window);

    static int targetHeight(bool serialDebugLogEnabled) {
        return serialDebugLogEnabled ? logHeight : plainHeight;
    }
    // The window's minimum and wanted height for a free area `workAreaHeight` high
    // (0 or less: unknown, the sizes as they stand).
    static Heights heightsFor(int workAreaHeight, bool serialDebugLogEnabled);
    // The size the window must take, or nothing when it fits (within 2 px).
    static std::optional<QSize> resizedContent(QSize current, bool serialDebugLogEnabled,
                                               int workAreaHeight = 0);

    bool serialDebugLogEnabled() const { return serialDebugLogEnabled_; }
    void setSerialDebugLogEnabled(bool enabled);

    void apply();

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    int workAreaHeight() const;
    void resizeToFit();
    void followScreen(QScreen* screen);

    QWidget* window_;
    bool serialDebugLogEnabled_ = false;
    QPointer<QWindow> watchedWindow_;
    QMetaObject::Connection screenArea_;
};

} // namespace orvane
