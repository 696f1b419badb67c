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
    ProgressBar1 =
        place(new QProgressBar(client), QStringLiteral("ProgressBar1"), 90, 90, 4185, 615);
    ProgressBar1->setRange(0, 100);
    ProgressBar1->setValue(0);
    ProgressBar1->setTextVisible(false);
    Label1 =
        place(new QLabel(QStringLiteral("DETECTING........."), client), QStringLiteral("Label1"),
              390, 735, 3615, 405, controlFont("Arial", 21.75, true));
    Timer1.setObjectName(QStringLiteral("Timer1"));
    Timer1.setInterval(kProgressTick);
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
