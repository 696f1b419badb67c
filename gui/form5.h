#pragma once

#include <QMdiSubWindow>
#include <QTimer>

class QLabel;
class QProgressBar;

namespace lw::gui {

// "AUTO CONFIGURATION MASTER": a moving bar while detection listens.
class Form5 final : public QMdiSubWindow {
    Q_OBJECT
public:
    explicit Form5(QWidget* parent = nullptr);

    // AUTO CONFIGURE: shown, animation started, counter and bar at 0.
    void begin();
    // The probe is done: animation stopped, window hidden.
    void end();
    void animationTick();

    int progbar = 0;
    QProgressBar* ProgressBar1;
    QLabel* Label1;
    QTimer Timer1;
};

}  // namespace lw::gui
