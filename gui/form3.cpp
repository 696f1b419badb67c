#include "gui/form3.h"

#include <QCheckBox>
#include <QCloseEvent>
#include <QDir>
#include <QLabel>
#include <QMdiArea>
#include <QPushButton>
#include <QStandardPaths>

#include "gui/twips.h"

namespace lw::gui {

namespace {

QFont arial(double points, bool bold = false) {
    QFont f(QStringLiteral("Arial"));
    f.setPointSizeF(points);
    f.setBold(bold);
    return f;
}

}  // namespace

int checkValue(const QCheckBox* box) {
    switch (box->checkState()) {
        case Qt::Unchecked:
            return 0;
        case Qt::Checked:
            return 1;
        case Qt::PartiallyChecked:
            return 2;
    }
    return 0;
}

void setCheckValue(QCheckBox* box, int value) {
    box->setCheckState(value == 1   ? Qt::Checked
                       : value == 2 ? Qt::PartiallyChecked
                                    : Qt::Unchecked);
}

QString Form3::defaultLogpath() {
    return QDir(QStandardPaths::writableLocation(QStandardPaths::DesktopLocation))
        .filePath(QStringLiteral("kx40buss.txt"));
}

Form3::Form3(QWidget* parent) : QMdiSubWindow(parent) {
    setObjectName(QStringLiteral("Form3"));
    setWindowTitle(QStringLiteral("LOGGING OPTIONS"));
    setWindowFlags(windowFlags() & ~Qt::WindowMaximizeButtonHint);
    auto* client = new QWidget(this);
    client->setObjectName(QStringLiteral("Form3Client"));
    setWidget(client);

    auto make = [&](auto* w, const char* name, int l, int t, int wd, int h, const QFont& f) {
        w->setObjectName(QString::fromLatin1(name));
        w->setGeometry(twipsRect(l, t, wd, h, client));
        w->setFont(f);
        return w;
    };
    Check1 = make(new QCheckBox(QStringLiteral("All Comm Data Raw"), client), "Check1", 240, 240,
                  5085, 360, arial(15.75));
    Check2 = make(new QCheckBox(QStringLiteral("Noise On Buss"), client), "Check2", 240, 840, 4245,
                  405, arial(15.75));
    Check3 = make(new QCheckBox(QStringLiteral("KX-40 Activity"), client), "Check3", 240, 1440,
                  3780, 420, arial(15.75));
    Label2 = make(new QLabel(QStringLiteral("Save Log File To:"), client), "Label2", 240, 1920,
                  2055, 270, arial(12, true));
    Label1 =
        make(new QLabel(defaultLogpath(), client), "Label1", 240, 2280, 3855, 525, arial(9.75));
    Label1->setWordWrap(true);
    Command2 = make(new QPushButton(QStringLiteral("&Cancel"), client), "Command2", 240, 2865, 1575,
                    540, arial(14.25));
    QFont sans(QStringLiteral("MS Sans Serif"));
    sans.setPointSizeF(13.5);
    Command1 = make(new QPushButton(QStringLiteral("&OK"), client), "Command1", 1860, 2865, 1605,
                    540, sans);
    for (QPushButton* b : {Command1, Command2}) {
        b->setAutoDefault(false);
        b->setDefault(false);
    }
    // Tab order: the three boxes, then OK, then Cancel.
    setTabOrder(Check1, Check2);
    setTabOrder(Check2, Check3);
    setTabOrder(Check3, Command1);
    setTabOrder(Command1, Command2);

    connect(Command1, &QPushButton::clicked, this, [this] { hide(); });
    connect(Command2, &QPushButton::clicked, this, [this] {
        LogOptions o = logOptions();
        snapshot.restoreInto(o);
        setCheckValue(Check1, o.rawdata);
        setCheckValue(Check2, o.busnoise);
        setCheckValue(Check3, o.unitactivity);
        hide();
    });
    holdSize();
    hide();
}

LogOptions Form3::logOptions() const {
    LogOptions o;
    o.rawdata = checkValue(Check1);
    o.busnoise = checkValue(Check2);
    o.unitactivity = checkValue(Check3);
    o.logpath = logpath().toStdString();
    return o;
}

QString Form3::logpath() const { return Label1->text(); }

void Form3::setLogpath(const QString& path) { Label1->setText(path); }

void Form3::openDialog() {
    show();
    activateWindow();
    raise();
    if (mdiArea()) mdiArea()->setActiveSubWindow(this);
    snapshot = LogOptionsSnapshot::of(logOptions());
}

void Form3::holdSize() {
    const QSize want = twipsSize(4245, 4125, this);
    if (size() != want) resize(want);
}

void Form3::resizeEvent(QResizeEvent* e) {
    QMdiSubWindow::resizeEvent(e);
    if (!isMinimized() && !isMaximized()) holdSize();
}

void Form3::focusInEvent(QFocusEvent* e) {
    QMdiSubWindow::focusInEvent(e);
    // A minimised window keeps its icon size; restoring it sets the size.
    if (!isMinimized()) holdSize();
}

void Form3::closeEvent(QCloseEvent* e) {
    // The frame's close button acts like OK: the dialog is only ever hidden.
    e->ignore();
    hide();
}

}  // namespace lw::gui
