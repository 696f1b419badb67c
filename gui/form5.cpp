#include "gui/form5.h"

#include <QLabel>
#include <QMdiArea>
#include <QProgressBar>

#include "core/masterdetection.h"
#include "gui/twips.h"

namespace lw::gui {

Form5::Form5(QWidget* parent) : QMdiSubWindow(parent) {
    setObjectName(QStringLiteral("Form5"));
    setWindowTitle(QStringLiteral("AUTO CONFIGURATION MASTER"));
    setWindowFlags(Qt::SubWindow | Qt::WindowTitleHint);
    auto* client = new QWidget(this);
    setWidget(client);
    ProgressBar1 = new QProgressBar(client);
    ProgressBar1->setObjectName(QStringLiteral("ProgressBar1"));
    ProgressBar1->setRange(0, 100);
    ProgressBar1->setValue(0);
    ProgressBar1->setTextVisible(false);
    ProgressBar1->setGeometry(twipsRect(90, 90, 4185, 615, client));
    Label1 = new QLabel(QStringLiteral("DETECTING........."), client);
    Label1->setObjectName(QStringLiteral("Label1"));
    Label1->setGeometry(twipsRect(390, 735, 3615, 405, client));
    QFont f(QStringLiteral("Arial"));
    f.setPointSizeF(21.75);
    f.setBold(true);
    Label1->setFont(f);
    Timer1.setObjectName(QStringLiteral("Timer1"));
    Timer1.setInterval(400);
    Timer1.stop();
    connect(&Timer1, &QTimer::timeout, this, &Form5::animationTick);
    resize(twipsSize(4455, 1680, this));
    hide();
}

void Form5::begin() {
    show();
    if (mdiArea()) mdiArea()->setActiveSubWindow(this);
    Timer1.start();
    progbar = 0;
    ProgressBar1->setValue(0);
}

void Form5::end() {
    Timer1.stop();
    hide();
}

void Form5::animationTick() {
    int value = ProgressBar1->value();
    progressTick(progbar, value);
    ProgressBar1->setValue(value);
}

}  // namespace lw::gui
