#include "gui/userdialogs.h"

#include <QFileDialog>
#include <QGridLayout>
#include <QInputDialog>
#include <QMessageBox>
#include <QStyle>

namespace lw::gui {

void fitTitle(QMessageBox& box) {
    // The frame's title bar also holds an icon and two or three buttons.
    const QFontMetrics fm(box.font());
    const int buttons = 6 * box.style()->pixelMetric(QStyle::PM_TitleBarHeight);
    const int want = fm.horizontalAdvance(box.windowTitle()) * 5 / 4 + buttons;
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
    bool ok = false;
    const QString answer =
        QInputDialog::getText(m_parent, title, prompt, QLineEdit::Normal, defaultAnswer, &ok);
    return ok ? answer : QString();
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
