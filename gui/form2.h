#pragma once

#include <QMdiSubWindow>
#include <QTimer>
#include <functional>
#include <string_view>

#include "core/rawpacing.h"

class QPlainTextEdit;

namespace lw {
class MonitorSession;
}  // namespace lw

namespace lw::gui {

// "KX-40 DATA BUSS": the raw bus characters, shown at a pace that follows the
// backlog, never more than 921 of them; a double-click quick-saves the text
// into the log file and empties it.
class Form2 final : public QMdiSubWindow {
    Q_OBJECT
public:
    explicit Form2(QWidget* parent = nullptr);

    // Wiring, done once by the owner: the board's port number, and the
    // session quick saves go to.
    void setPortNumber(std::function<int()> theport) { m_theport = std::move(theport); }
    void setQuickSaveTarget(MonitorSession* session) { m_session = session; }

    // The backlog the bus monitor feeds. The drain timer sleeps while the
    // backlog is empty; bytes arriving wake it with the interval it had.
    void appendNewdata(std::string_view bytes);
    const std::string& newdata() const { return m_pacer.newdata; }

    // Shown for the first time: held size, against the top edge.
    void load();
    void formkill();
    void Renamecap();

    // One drain tick, as the timer runs it.
    void drainTick();
    void quickSave();

    QString shownText() const;
    int drainInterval() const { return Timer1.interval(); }

    QPlainTextEdit* Text1 = nullptr;
    QTimer Timer1;

protected:
    void resizeEvent(QResizeEvent* e) override;
    void focusInEvent(QFocusEvent* e) override;
    void closeEvent(QCloseEvent* e) override;
    bool eventFilter(QObject* watched, QEvent* e) override;

private:
    void setShown(const QString& text);
    void textEdited();
    void holdSize();

    RawPacer m_pacer;
    QString m_text;  // the shown text, one character per byte
    bool m_setting = false;
    bool m_inTick = false;
    std::function<int()> m_theport;
    MonitorSession* m_session = nullptr;
    QTimer m_refresh;
};

QString displayText(std::string_view bytes);
std::string bytesOf(const QString& shown);

}  // namespace lw::gui
