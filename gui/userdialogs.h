#pragma once

#include <QHash>
#include <QPointer>
#include <QString>

class QMessageBox;
class QWidget;

namespace lw::gui {

// The message and input boxes the windows raise, behind one interface so
// tests can answer them.
class UserDialogs {
public:
    virtual ~UserDialogs() = default;
    // A modal box with a single OK button and no icon; returns when closed.
    virtual void message(const QString& text, const QString& title) = 0;
    // A box that does not stop the program: timers keep ticking behind it.
    // One at a time per title: while one is open it takes the new text and
    // comes to the front instead of another opening.
    virtual void notice(const QString& text, const QString& title) = 0;
    // New text for the open notice of that title; nothing when none is open.
    virtual void updateNotice(const QString& text, const QString& title) = 0;
    // An input box; empty on cancel.
    virtual QString askText(const QString& prompt, const QString& title,
                            const QString& defaultAnswer) = 0;
    // A save-file dialog; empty on cancel.
    virtual QString askSaveFile(const QString& initial, const QString& filter) = 0;
    // A modal box with the information icon.
    virtual void information(const QString& text, const QString& title) = 0;
};

class QtUserDialogs final : public UserDialogs {
public:
    explicit QtUserDialogs(QWidget* parent = nullptr) : m_parent(parent) {}
    void setParentWidget(QWidget* parent) { m_parent = parent; }
    void message(const QString& text, const QString& title) override;
    void notice(const QString& text, const QString& title) override;
    void updateNotice(const QString& text, const QString& title) override;
    QString askText(const QString& prompt, const QString& title,
                    const QString& defaultAnswer) override;
    QString askSaveFile(const QString& initial, const QString& filter) override;
    void information(const QString& text, const QString& title) override;

private:
    QWidget* m_parent;
    QHash<QString, QPointer<QMessageBox>> m_notices;
};

// Widens a box so that a window manager has room for its whole title.
void fitTitle(QMessageBox& box);

}  // namespace lw::gui
