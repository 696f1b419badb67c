#pragma once

#include <QMdiSubWindow>
#include <QTimer>
#include <functional>

class QFrame;
class QLabel;

namespace lw::gui {

class UserDialogs;

// The start-up greeting: name, platforms, version. Closes itself after 2 s
// or on a click on its frame and then brings up the configuration dialog.
class frmSplash final : public QMdiSubWindow {
    Q_OBJECT
public:
    frmSplash(UserDialogs& dialogs, std::function<void()> onUnload, QWidget* parent = nullptr);

    // Unloads the splash; the configuration dialog comes up.
    void unload();
    void versionDoubleClick();

    QFrame* Frame1 = nullptr;
    QLabel* Image1 = nullptr;
    QLabel* Label1 = nullptr;
    QLabel* Label2 = nullptr;
    QLabel* Label3 = nullptr;
    QTimer Timer1;
    int doubleClicks = 0;

    // The 200 x 83 picture: a film reel and a strip of film.
    static QPixmap picture();

protected:
    bool eventFilter(QObject* watched, QEvent* e) override;
    void closeEvent(QCloseEvent* e) override;

private:
    UserDialogs& m_dialogs;
    std::function<void()> m_onUnload;
    bool m_unloaded = false;
};

}  // namespace lw::gui
