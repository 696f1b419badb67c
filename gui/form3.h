#pragma once

#include <QMdiSubWindow>
#include <memory>

#include "core/logoptions.h"
#include "core/reports.h"

class QCheckBox;
class QLabel;
class QPushButton;

namespace lw::gui {

// "LOGGING OPTIONS": its controls are the only store of LogOptions. Hidden,
// never destroyed; OK keeps the values, Cancel puts back the check states of
// the last opening.
class Form3 final : public QMdiSubWindow {
    Q_OBJECT
public:
    explicit Form3(QWidget* parent = nullptr);

    // The options in force now, read from the controls.
    LogOptions logOptions() const;
    QString logpath() const;
    void setLogpath(const QString& path);

    // The View menu's "Log Options...": show, activate, take the snapshot.
    void openDialog();

    LogOptionsSnapshot snapshot;  // chk1, chk2, chk3

    QCheckBox* Check1;
    QCheckBox* Check2;
    QCheckBox* Check3;
    QLabel* Label1;
    QLabel* Label2;
    QPushButton* Command1;
    QPushButton* Command2;

    static QString defaultLogpath();

protected:
    void resizeEvent(QResizeEvent* e) override;
    void focusInEvent(QFocusEvent* e) override;
    void closeEvent(QCloseEvent* e) override;

private:
    void holdSize();
};

// Appends through `inner`, first making the folder of the default log path
// when it is missing: a fresh account may have no desktop folder. A path the
// user chose is used as chosen, and its failure told as any other.
class DefaultLogFolderSink final : public LogSink {
public:
    DefaultLogFolderSink(std::unique_ptr<LogSink> inner, QString defaultPath)
        : m_inner(std::move(inner)), m_defaultPath(std::move(defaultPath)) {}
    Result<> append(const std::string& path, std::string_view record) override;

private:
    std::unique_ptr<LogSink> m_inner;
    QString m_defaultPath;
};

int checkValue(const QCheckBox* box);
void setCheckValue(QCheckBox* box, int value);

}  // namespace lw::gui
