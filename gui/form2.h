#pragma once

#include <QMdiSubWindow>
#include <QTimer>
#include <functional>
#include <string>
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
    // Told of every quick save that could not be written, with why.
    void setQuickSaveFailed(std::function<void(const std::string&)> told) {
        m_quickSaveFailed = std::move(told);
    }

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
    void paintText(qsizetype cursor = -1);
    QString editorText() const;
    void holdSize();

    RawPacer m_pacer;
    QString m_text;  // the shown text, one character per byte
    // What the text box holds: it is repainted less often than the text
    // changes, so it may lack the newest characters and still hold some
    // that a trim has since taken off the front.
    QString m_painted;
    qsizetype m_trimmedSincePaint = 0;
    bool m_setting = false;
    bool m_inTick = false;
    std::function<int()> m_theport;
    MonitorSession* m_session = nullptr;
    std::function<void(const std::string&)> m_quickSaveFailed;
    QTimer m_refresh;
};

QString displayText(std::string_view bytes);
std::string bytesOf(const QString& shown);

}  // namespace lw::gui
