#include "gui/form3.h"

#include <QCheckBox>
#include <QCloseEvent>
#include <QDir>
#include <QFileInfo>
#include <QLabel>
#include <QMdiArea>
#include <QPushButton>
#include <QStandardPaths>

#include "gui/keyboard.h"
#include "gui/twips.h"

namespace lw::gui {

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

Result<> DefaultLogFolderSink::append(const std::string& path, std::string_view record) {
    // Made at the first record, so a run that logs nothing leaves the home folder alone.
    if (QString::fromStdString(path) == m_defaultPath) {
        const QFileInfo file(m_defaultPath);
        if (!file.dir().exists()) QDir().mkpath(file.absolutePath());
    }
    return m_inner->append(path, record);
}

Form3::Form3(QWidget* parent) : QMdiSubWindow(parent) {
    setObjectName(QStringLiteral("Form3"));
    setWindowTitle(QStringLiteral("LOGGING OPTIONS"));
    setWindowFlags(windowFlags() & ~Qt::WindowMaximizeButtonHint);
    auto* client = new QWidget(this);
    client->setObjectName(QStringLiteral("Form3Client"));
    setWidget(client);

    const QFont boxes = controlFont("Arial", 15.75);
    Check1 = place(new QCheckBox(QStringLiteral("All Comm Data Raw"), client),
                   QStringLiteral("Check1"), 240, 240, 5085, 360, boxes);
    Check2 = place(new QCheckBox(QStringLiteral("Noise On Buss"), client), QStringLiteral("Check2"),
                   240, 840, 4245, 405, boxes);
    Check3 = place(new QCheckBox(QStringLiteral("KX-40 Activity"), client),
                   QStringLiteral("Check3"), 240, 1440, 3780, 420, boxes);
    Label2 = place(new QLabel(QStringLiteral("Save Log File To:"), client),
                   QStringLiteral("Label2"), 240, 1920, 2055, 270, controlFont("Arial", 12, true));
    Label1 = place(new QLabel(defaultLogpath(), client), QStringLiteral("Label1"), 240, 2280, 3855,
                   525, controlFont("Arial", 9.75));
    Label1->setWordWrap(true);
    Command2 = place(new QPushButton(QStringLiteral("&Cancel"), client), QStringLiteral("Command2"),
                     240, 2865, 1575, 540, controlFont("Arial", 14.25));
    Command1 = place(new QPushButton(QStringLiteral("&OK"), client), QStringLiteral("Command1"),
                     1860, 2865, 1605, 540, controlFont("MS Sans Serif", 13.5));
    for (QPushButton* b : {Command1, Command2}) pressOnEnter(b);
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
    // The control that last had the focus here keeps it, its frame drawn.
    QWidget* last = widget()->focusWidget();
    focusForKeys(last ? last : Check1);
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
