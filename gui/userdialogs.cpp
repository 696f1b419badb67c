#include "gui/userdialogs.h"

#include <QFileDialog>
#include <QInputDialog>
#include <QMessageBox>

namespace lw::gui {

void QtUserDialogs::message(const QString& text, const QString& title) {
    QMessageBox box(QMessageBox::NoIcon, title, text, QMessageBox::Ok, m_parent);
    box.exec();
}

void QtUserDialogs::notice(const QString& text, const QString& title) {
    auto* box = new QMessageBox(QMessageBox::Warning, title, text, QMessageBox::Ok, m_parent);
    box->setAttribute(Qt::WA_DeleteOnClose);
    box->setModal(false);
    box->show();
}

QString QtUserDialogs::askText(const QString& prompt, const QString& title,
                               const QString& defaultAnswer) {
    bool ok = false;
    const QString answer =
        QInputDialog::getText(m_parent, title, prompt, QLineEdit::Normal, defaultAnswer, &ok);
    return ok ? answer : QString();
}

QString QtUserDialogs::askSaveFile(const QString& initial, const QString& filter) {
    return QFileDialog::getSaveFileName(m_parent, QStringLiteral("Save As"), initial, filter);
}

void QtUserDialogs::information(const QString& text, const QString& title) {
    QMessageBox box(QMessageBox::Information, title, text, QMessageBox::Ok, m_parent);
    box.exec();
}

}  // namespace lw::gui
