#include "gui/form4.h"

#include <QCloseEvent>
#include <QComboBox>
#include <QFrame>
#include <QLabel>
#include <QLineEdit>
#include <QMdiArea>
#include <QPushButton>

#include "core/busprotocol.h"
#include "gui/form5.h"
#include "gui/keyboard.h"
#include "gui/twips.h"

namespace lw::gui {

Form4::Form4(Form5& progress, QWidget* parent) : QMdiSubWindow(parent), m_progress(progress) {
    setObjectName(QStringLiteral("Form4"));
    setWindowTitle(QStringLiteral("SYSTEM CONFIGURATION"));
    setWindowFlags(windowFlags() & ~Qt::WindowMaximizeButtonHint);
    auto* c = new QWidget(this);
    c->setObjectName(QStringLiteral("Form4Client"));
    setWidget(c);
    const QFont arial = controlFont("Arial", 14.25);
    // A height of 0 is the height the control's font asks for.
    auto put = [&](QWidget* w, const char* name, int l, int t, int wd, int h) {
        place(w, QString::fromLatin1(name), l, t, wd, h, arial);
        if (h == 0) w->resize(w->width(), w->sizeHint().height());
    };
    Label3 = new QLabel(QStringLiteral("VERSION OF SOFTWARE"), c);
    put(Label3, "Label3", -120, 90, 2295, 615);
    Combo2 = new QComboBox(c);
    Combo2->setEditable(true);
    for (const std::string_view v : kVersions)
        Combo2->addItem(QString::fromLatin1(v.data(), v.size()));
    Combo2->setEditText(QString::fromLatin1(kDefaultVersion.data(), kDefaultVersion.size()));
    put(Combo2, "Combo2", 1980, 180, 2235, 0);
    Label2 = new QLabel(QStringLiteral("COMPUTER'S COMMPORT#"), c);
    put(Label2, "Label2", 90, 810, 1995, 630);
    Combo1 = new QComboBox(c);
    Combo1->setEditable(true);
    for (int i = 1; i <= 10; ++i) Combo1->addItem(QString::number(i));
    Combo1->setEditText(QStringLiteral("1"));
    put(Combo1, "Combo1", 2280, 900, 705, 0);
    // Typed text is kept as typed: no completion, no case correction, and
    // Enter adds nothing to the fixed lists.
    for (QComboBox* box : {Combo1, Combo2}) {
        box->setCompleter(nullptr);
        box->setInsertPolicy(QComboBox::NoInsert);
    }
    for (QLabel* l : {Label2, Label3}) {
        l->setWordWrap(true);
        l->setAlignment(Qt::AlignCenter);
    }
    Command2 = new QPushButton(QStringLiteral("&OK"), c);
    put(Command2, "Command2", 180, 1620, 1545, 675);
    Command3 = new QPushButton(QStringLiteral("&CANCEL"), c);
    put(Command3, "Command3", 2610, 1620, 1545, 675);
    Label1 = new QLabel(QStringLiteral("OR"), c);
    put(Label1, "Label1", 1920, 2310, 465, 285);
    Label1->setFont(controlFont("Arial", 15.75));
    Command1 = new QPushButton(QStringLiteral("&AUTO CONFIGURE "), c);
    put(Command1, "Command1", 180, 2790, 4005, 645);
    for (QPushButton* b : {Command1, Command2, Command3}) pressOnEnter(b);
    // Four thin lines part the manual choice from the automatic one.
    const int lines[4][4] = {
        {60, 2430, 1800, 15}, {2460, 2430, 1740, 15}, {60, 1530, 4140, 15}, {60, 3480, 4140, 15}};
    for (const auto& l : lines) {
        auto* f = new QFrame(c);
        f->setFrameShape(QFrame::HLine);
        f->setFrameShadow(QFrame::Sunken);
        f->setGeometry(twips(l[0], c), twips(l[1], c), twips(l[2], c), 2);
    }
    // Tab order: AUTO CONFIGURE, port, version, OK, CANCEL.
    setTabOrder(Command1, Combo1);
    setTabOrder(Combo1, Combo2);
    setTabOrder(Combo2, Command2);
    setTabOrder(Command2, Command3);

    connect(Command2, &QPushButton::clicked, this, [this] {
        baudfound = true;
        hide();
    });
    connect(Command3, &QPushButton::clicked, this, [this] { hide(); });
    connect(Command1, &QPushButton::clicked, this, [this] {
        m_progress.begin();
        hide();
        useautoconfig = true;
        m_progress.progbar = 0;
    });
    hide();
}

void Form4::showDialog() {
    if (!m_loaded) {
        m_loaded = true;
        resize(twips(4365, this), twips(3960, this));
    }
    show();
    if (mdiArea()) mdiArea()->setActiveSubWindow(this);
    activateWindow();
    raise();
    // Keys work without a click, from the first control of the tab order,
    // whichever control had the focus when the dialog went.
    focusForKeys(Command1);
}

QString Form4::portChoice() const { return Combo1->currentText(); }

std::string Form4::versionChoice() const { return Combo2->currentText().toStdString(); }

void Form4::closeEvent(QCloseEvent* e) {
    // The frame's close button is CANCEL.
    e->ignore();
    hide();
}

}  // namespace lw::gui
