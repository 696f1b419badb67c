#pragma once

#include <QMdiSubWindow>
#include <string>

class QComboBox;
class QLabel;
class QPushButton;

namespace lw::gui {

class Form5;

// "SYSTEM CONFIGURATION": the port and software version choices, and the
// two flags the settings poll acts on. Hidden, never destroyed.
class Form4 final : public QMdiSubWindow {
    Q_OBJECT
public:
    explicit Form4(Form5& progress, QWidget* parent = nullptr);

    // Shown by the splash and by "Comm Options"; sizes itself the first time.
    void showDialog();

    QString portChoice() const;
    std::string versionChoice() const;

    bool baudfound = false;
    bool useautoconfig = false;

    QComboBox* Combo1;
    QComboBox* Combo2;
    QPushButton* Command1;
    QPushButton* Command2;
    QPushButton* Command3;
    QLabel* Label1;
    QLabel* Label2;
    QLabel* Label3;

protected:
    void closeEvent(QCloseEvent* e) override;

private:
    Form5& m_progress;
    bool m_loaded = false;
};

}  // namespace lw::gui
