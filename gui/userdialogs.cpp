#include "gui/userdialogs.h"

#include <QFileDialog>
#include <QGridLayout>
#include <QInputDialog>
#include <QLineEdit>
#include <QMessageBox>
#include <QStyle>

namespace lw::gui {

namespace {

// The width a window manager needs for the whole title: the frame's title
// bar also holds an icon and two or three buttons.
int titleWidth(const QWidget& box) {
    const QFontMetrics fm(box.font());
    const int buttons = 6 * box.style()->pixelMetric(QStyle::PM_TitleBarHeight);
    return fm.horizontalAdvance(box.windowTitle()) * 5 / 4 + buttons;
}

}  // namespace

void fitTitle(QMessageBox& box) {
    const int want = titleWidth(box);
    auto* grid = qobject_cast<QGridLayout*>(box.layout());
    if (!grid) return;
    grid->addItem(new QSpacerItem(want, 0, QSizePolicy::Fixed, QSizePolicy::Minimum),
                  grid->rowCount(), 0, 1, grid->columnCount());
}

void QtUserDialogs::message(const QString& text, const QString& title) {
    QMessageBox box(QMessageBox::NoIcon, title, text, QMessageBox::Ok, m_parent);
    fitTitle(box);
    box.exec();
}

void QtUserDialogs::notice(const QString& text, const QString& title) {
    QPointer<QMessageBox>& box = m_notices[title];
    if (!box) {
        box = new QMessageBox(QMessageBox::Warning, title, text, QMessageBox::Ok, m_parent);
        box->setAttribute(Qt::WA_DeleteOnClose);
        box->setModal(false);
        fitTitle(*box);
    } else if (box->text() != text) {
        box->setText(text);
    }
    box->show();
    box->raise();
}

void QtUserDialogs::updateNotice(const QString& text, const QString& title) {
    const QPointer<QMessageBox> box = m_notices.value(title);
    if (box && box->isVisible() && box->text() != text) box->setText(text);
}

QString QtUserDialogs::askText(const QString& prompt, const QString& title,
                               const QString& defaultAnswer) {
    QInputDialog box(m_parent);
    box.setWindowTitle(title);
    box.setLabelText(prompt);
    box.setTextValue(defaultAnswer);
    // The box sizes itself to its controls when shown; the entry field holds it open.
    if (auto* entry = box.findChild<QLineEdit*>()) entry->setMinimumWidth(titleWidth(box));
    return box.exec() == QDialog::Accepted ? box.textValue() : QString();
}

QString QtUserDialogs::askSaveFile(const QString& initial, const QString& filter) {
    // The log is appended to, never replaced: asking "replace?" would be wrong.
    return QFileDialog::getSaveFileName(m_parent, QStringLiteral("Save As"), initial, filter,
                                        nullptr, QFileDialog::DontConfirmOverwrite);
}

void QtUserDialogs::information(const QString& text, const QString& title) {
    QMessageBox box(QMessageBox::Information, title, text, QMessageBox::Ok, m_parent);
    fitTitle(box);
    box.exec();
}

}  // namespace lw::gui
