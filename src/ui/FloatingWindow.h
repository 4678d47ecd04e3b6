#pragma once

#include <QWidget>

namespace orvane {

class WindowSizeConfigurator;

// The one top-level window of the program. Floating: a frameless tool window that stays
// above others and hides as soon as it loses activation (a click elsewhere) or on
// Escape, since the tray icon brings it back. Standalone (no tray host to bring it
// back): an ordinary decorated window that stays until closed, and closing it quits.
class FloatingWindow : public QWidget {
    Q_OBJECT

public:
    enum class Mode { floating, standalone };

    explicit FloatingWindow(Mode mode, QWidget* parent = nullptr);

    Mode mode() const { return mode_; }
    // Hidden, the window takes the new mode at once. Shown, it keeps its look until it is
    // next hidden, so it does not change under the user's hands; in the meantime closing
    // it behaves as the new mode does.
    void setMode(Mode mode);
    WindowSizeConfigurator& sizeConfigurator() { return *sizeConfigurator_; }

    // Holds the window's whole content.
    void setContent(QWidget* content);

    // Ends editing, hides and reports windowHidden(); nothing when already hidden.
    void hideWindow();

signals:
    void windowHidden();
    // Standalone mode: the user closed the window.
    void closeRequested();

protected:
    void changeEvent(QEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    void closeEvent(QCloseEvent* event) override;
    void hideEvent(QHideEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void paintEvent(QPaintEvent* event) override;

private:
    void applyMode(Mode mode);

    Mode mode_;
    Mode pendingMode_;
    WindowSizeConfigurator* sizeConfigurator_;
};

} // namespace orvane
