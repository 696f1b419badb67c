#include "gui/form1.h"

#include <QCloseEvent>
#include <QMouseEvent>

#include "core/busprotocol.h"
#include "core/bussettings.h"
#include "gui/form2.h"
#include "gui/form3.h"
#include "gui/qtcolour.h"
#include "gui/shapewidget.h"
#include "gui/twips.h"
#include "gui/userdialogs.h"

namespace lw::gui {

namespace {

QString latin1(const std::string& s) {
    return QString::fromLatin1(s.data(), static_cast<qsizetype>(s.size()));
}

void setText(QLabel* l, const QString& text) {
    if (l->text() != text) l->setText(text);
}

// A name wider than its label ends in an ellipsis, with the whole name as
// its tooltip; the label keeps its size.
void setName(QLabel* l, const QString& name) {
    if (l->text() == name || l->toolTip() == name) return;
    const QString shown =
        l->fontMetrics().elidedText(name, Qt::ElideRight, l->contentsRect().width());
    l->setText(shown);
    l->setToolTip(shown == name ? QString() : name);
}

void setTextColour(QLabel* l, const QColor& c) {
    QPalette p = l->palette();
    if (p.color(QPalette::WindowText) == c) return;
    p.setColor(QPalette::WindowText, c);
    l->setPalette(p);
}

const QString kCaption = QStringLiteral("STATUS REMOTE");
const QString kLostCaption = QStringLiteral("STATUS REMOTE - COMMPORT LOST");
const QString kLostTitle = QStringLiteral("COMMPORT LOST");
const QString kLogTitle = QStringLiteral("LOG FILE ERROR");
const QString kNamesTitle = QStringLiteral("KX-40 UNIT NAMES");

}  // namespace

Form1::Form1(Form2& raw, Form3& options, BoardServices services, QWidget* parent)
    : QMdiSubWindow(parent),
      m_raw(raw),
      m_options(options),
      m_services(std::move(services)),
      m_session(makeSession()),
      m_runner(*m_session),
      Timer1(m_runner.decoderTimer()),
      Timer2(m_runner.clockTimer()),
      Timer3(m_runner.blinkCount()) {
    setObjectName(QStringLiteral("Form1"));
    setWindowTitle(kCaption);
    // The keeper takes the port's loss and opens the same device again when
    // it is back.
    m_keeper = std::make_unique<PortKeeper>(*m_services.port, [this] { return portName(); });
    connect(m_keeper.get(), &PortKeeper::stateChanged, this, &Form1::portStateChanged);
    m_raw.setPortNumber([this] { return static_cast<int>(theport); });
    m_raw.setQuickSaveTarget(m_session.get());
    m_raw.setQuickSaveFailed([this](const std::string& why) {
        m_quickSaveFailed = true;
        tellLogProblem(m_options.logOptions().logpath, why);
    });

    Timer1.setObjectName(QStringLiteral("Timer1"));
    Timer2.setObjectName(QStringLiteral("Timer2"));
    Timer3.setObjectName(QStringLiteral("Timer3"));
    connect(&m_runner, &SessionRunner::decoderTicked, this, &Form1::afterDecoderTick);
    connect(&m_runner, &SessionRunner::clockTicked, this, &Form1::paintClocks);
    build();
}

std::unique_ptr<MonitorSession> Form1::makeSession() {
    // The byte route: port to session, session to the raw window's backlog
    // and the log; the options and version choice are read at each use.
    return std::make_unique<MonitorSession>(
        SessionDeps{.port = *m_services.port,
                    .time = *m_services.time,
                    .beeper = *m_services.beeper,
                    .sink = *m_services.sink,
                    .logOptions = [this] { return m_options.logOptions(); },
                    .versionChoice = m_services.versionChoice,
                    .rawOut = [this](std::string_view bytes) { m_raw.appendNewdata(bytes); },
                    .onLogFailure =
                        [this](const LogFailure& f) {
                            m_quickSaveFailed = false;
                            tellLogProblem(f.path, f.error);
                        },
                    .names =
                        [this](UnitNames& captions) {
                            return loadunitnames(m_services.namesPath.toStdString(), captions);
                        }});
}

Form1::~Form1() = default;

void Form1::build() {
    m_client = new QWidget(this);
    m_client->setObjectName(QStringLiteral("Form1Client"));
    m_client->setAutoFillBackground(true);
    QPalette black = m_client->palette();
    black.setColor(QPalette::Window, Qt::black);
    m_client->setPalette(black);
    setWidget(m_client);
    QWidget* c = m_client;

    for (int i = 0; i < kSlots; ++i) {
        const int left = 105 + 1680 * (i % 4);
        const int top = 105 + 1680 * (i / 4);
        // Each block's controls are named with their index: "Shape1(6)".
        const QString n = QLatin1Char('(') + QString::number(i + 1) + QLatin1Char(')');
        auto label = [&](const char* name, int l, int t, int wd, int h, const QFont& f,
                         const QColor& colour) {
            auto* lab =
                place(new QLabel(c), QString::fromLatin1(name) + n, left + l, top + t, wd, h, f);
            lab->setAlignment(Qt::AlignHCenter | Qt::AlignTop);
            setTextColour(lab, colour);
            return lab;
        };
        Shape1[i] = place(new ShapeWidget(ShapeWidget::Kind::Panel, c), "Shape1" + n, left, top,
                          1590, 1590);
        Shape2[i] = place(new ShapeWidget(ShapeWidget::Kind::Bar, c), "Shape2" + n, left + 120,
                          top + 525, 1350, 435);
        Label33[i] =
            label("Label33", 75, 0, 1455, 540, controlFont("Courier New", 12, true), Qt::white);
        Label33[i]->installEventFilter(this);
        stat1[i] =
            label("stat1", 105, 630, 1395, 435, controlFont("Arial", 12, true), QColor(64, 64, 64));
        time1[i] = label("time1", 0, 1155, 1590, 435, controlFont("Courier New", 12, true),
                         QColor(64, 64, 64));
    }
    const QFont big = controlFont("Arial", 15.75, true);
    Shape3 = place(new ShapeWidget(ShapeWidget::Kind::Circle, c), QStringLiteral("Shape3"), 7215,
                   420, 555, 435);
    Label1 = place(new QLabel(QStringLiteral("MASTER REMOTE FOUND "), c), QStringLiteral("Label1"),
                   6795, 945, 1515, 1185, big);
    Label1->setWordWrap(true);
    Label1->setAlignment(Qt::AlignHCenter | Qt::AlignTop);
    Shape4 = place(new ShapeWidget(ShapeWidget::Kind::Circle, c), QStringLiteral("Shape4"), 7200,
                   2490, 585, 435);
    Label2 = place(new QLabel(QStringLiteral("NOISE"), c), QStringLiteral("Label2"), 6975, 3015,
                   1035, 330, big);
    Label2->setAlignment(Qt::AlignHCenter | Qt::AlignTop);
    setTextColour(Label2, Qt::white);
    Label3 = place(new QLabel(c), QStringLiteral("Label3"), 3330, 3360, 255, 225);  // the hot spot
    Label3->installEventFilter(this);
    Label3->raise();
}

void Form1::load() {
    m_runner.stop();
    m_raw.load();
    m_raw.showMinimized();
    resize(twipsSize(8355, 7200, this));
    move(twips(500, this), twips(20, this));
    const Result<> r = m_runner.load();  // every slot absent, then the names
    paint();
    // Told without waiting for a click: the port opens and the ticks start
    // behind it.
    if (!r.ok && m_services.dialogs) {
        m_services.dialogs->notice(QString::fromStdString(r.error), kNamesTitle);
    }
}

void Form1::startremote() {
    m_raw.Renamecap();
    const std::string settings = lineSettings(baud.toStdString());
    if (Timer1.isActive() && portLost()) {
        // Already waiting for the device: try it now, and go on waiting
        // (the loss was told) when it is still away.
        m_keeper->open(theport, settings, PortKeeper::FirstOpen::KeepTrying);
        applyLayout();
        return;
    }
    const Result<> r = m_keeper->open(theport, settings);
    if (r.ok) {
        m_runner.start();
    } else {
        if (m_services.dialogs) {
            m_services.dialogs->message(QStringLiteral("The bus port %1 cannot be opened:\n%2")
                                            .arg(portName(), m_keeper->reason()),
                                        QStringLiteral("COMMPORT INVALID"));
        }
        hide();
        m_runner.stop();
        m_keeper->close();
    }
    applyLayout();
}

void Form1::stopMonitoring() {
    m_runner.stop();
    m_keeper->close();
}

void Form1::unload() {
    m_raw.formkill();
    m_keeper->close();
}

QString Form1::portName() const {
    const QString device = m_services.portDevice ? m_services.portDevice() : QString();
    const QString com = QStringLiteral("COM %1").arg(theport);
    return device.isEmpty() ? com : com + QStringLiteral(" (") + device + QLatin1Char(')');
}

void Form1::portStateChanged(PortKeeper::State state, const QString& reason) {
    const bool lost = state == PortKeeper::State::Lost;
    // A black board must not pass for every projector being off.
    setWindowTitle(lost ? kLostCaption : kCaption);
    if (!m_services.dialogs) return;
    if (lost) ++m_portLosses;
    const QString count =
        m_portLosses > 1 ? QStringLiteral("\n\nThe port has been lost %1 times.").arg(m_portLosses)
                         : QString();
    if (lost) {
        m_services.dialogs->notice(
            QStringLiteral("The bus port %1 stopped:\n%2\n\nThe board goes on without input and "
                           "opens the port again by itself as soon as the device is back.")
                    .arg(portName(), reason) +
                count,
            kLostTitle);
    } else if (state == PortKeeper::State::Open && m_portLosses > 0) {
        const std::string at = m_services.time->stamp().time;
        m_services.dialogs->updateNotice(
            QStringLiteral("The bus port %1 is open again since %2; monitoring goes on.")
                    .arg(portName(), QString::fromStdString(at)) +
                count,
            kLostTitle);
    }
}

void Form1::tellLogProblem(const std::string& path, const std::string& error) {
    m_logPath = QString::fromStdString(path);
    m_logError = QString::fromStdString(error);
    m_droppedTold = m_session->recordsDropped();
    if (m_services.dialogs) m_services.dialogs->notice(logProblemText(), kLogTitle);
}

QString Form1::logProblemText() const {
    QString text = QStringLiteral("The activity log cannot be written:\n%1\n%2\n\n")
                       .arg(m_logPath, m_logError);
    if (m_quickSaveFailed) {
        text += QStringLiteral(
            "The quick save was not written; its text stays in the raw data "
            "window.\n\n");
    }
    text += QStringLiteral(
                "Monitoring goes on; records are left out until the file can be "
                "written again. Records left out so far: %1.")
                .arg(m_session->recordsDropped());
    return text;
}

void Form1::applyLayout() {
    if (isMinimized() || isMaximized() || !Timer1.isActive()) return;
    const bool full = lw::numericValue(baud.toStdString()) == 4800.0;
    const int w = twips(8385, this);
    const int h = twips(full ? 7245 : 3885, this);
    if (width() != w || height() != h) resize(w, h);
    Shape4->move(Shape4->x(), twips(full ? 5775 : 2490, this));
    Label2->move(Label2->x(), twips(full ? 6300 : 3015, this));
}

void Form1::decoderTick() { m_runner.decoderTick(); }

void Form1::afterDecoderTick() {
    paint();
    // An open log notice keeps its count of left-out records up to date.
    const std::uint64_t dropped = m_session->recordsDropped();
    if (dropped != m_droppedTold && !m_logPath.isEmpty() && m_services.dialogs) {
        m_droppedTold = dropped;
        m_services.dialogs->updateNotice(logProblemText(), kLogTitle);
    }
}

void Form1::clockTick() { m_runner.clockTick(); }

void Form1::paintClocks() {
    const UnitBoard& b = m_session->board();
    for (int i = 0; i < kSlots; ++i) {
        const std::string& clock = b.slots[i].clock;
        if (clock == m_clockShown[i]) continue;
        m_clockShown[i] = clock;
        setText(time1[i], latin1(clock));
    }
}

void Form1::paint() {
    const UnitBoard& b = m_session->board();
    const QPalette& pal = palette();
    for (int i = 0; i < kSlots; ++i) {
        const UnitSlot& s = b.slots[i];
        setText(stat1[i], latin1(s.status));
        Shape1[i]->setFill(toQColor(s.panel, pal));
        Shape2[i]->setFill(toQColor(s.lamp, pal));
    }
    paintClocks();
    showNames();
    Shape3->setFill(toQColor(b.remoteLamp, pal));
    setTextColour(Label1, toQColor(b.remoteTextColour, pal));
    Shape4->setFill(toQColor(b.noiseLamp, pal));
    setTextColour(Label2, toQColor(b.noiseTextColour, pal));
}

void Form1::showNames() {
    const UnitBoard& b = m_session->board();
    for (int i = 0; i < kSlots; ++i) setName(Label33[i], latin1(b.slots[i].name));
}

void Form1::namesProblem(const std::string& error) {
    if (m_services.dialogs) {
        m_services.dialogs->message(QString::fromStdString(error),
                                    QStringLiteral("KX-40 UNIT NAMES"));
    }
}

void Form1::renameUnit(int slot) {
    if (slot < 1 || slot > kSlots || !m_services.dialogs) return;
    const QString answer = m_services.dialogs->askText(
        QStringLiteral("Enter New Name"), QStringLiteral("CHANGE KX-40 LABEL"),
        latin1(m_session->board().slots[slot - 1].name));
    UnitNames captions = namesOf(m_session->board());
    const QByteArray utf8 = answer.toUtf8();
    const RenameResult r = lw::renameUnit(m_services.namesPath.toStdString(), captions, slot,
                                          std::string_view(utf8.constData(), utf8.size()));
    setNames(m_session->board(), captions);
    showNames();
    if (r.outcome == RenameResult::Outcome::Refused) {
        m_services.dialogs->message(QString::fromStdString(r.message),
                                    QStringLiteral("CHANGE KX-40 LABEL"));
    } else if (r.outcome == RenameResult::Outcome::WriteFailed) {
        namesProblem(r.message);
    }
}

void Form1::hotSpotDoubleClick() {
    UnitNames captions = namesOf(m_session->board());
    const Result<> r = m_hotSpot.doubleClick(m_services.namesPath.toStdString(), captions);
    setNames(m_session->board(), captions);
    showNames();
    if (!r.ok) namesProblem(r.error);
}

void Form1::resizeEvent(QResizeEvent* e) {
    QMdiSubWindow::resizeEvent(e);
    applyLayout();
}

void Form1::closeEvent(QCloseEvent* e) {
    // Closing the board by its frame unloads it: the port is closed and the
    // decoder stops; "Remote" brings it back with the same port and speed.
    e->ignore();
    m_runner.stop();
    unload();
    hide();
}

bool Form1::eventFilter(QObject* watched, QEvent* e) {
    if (e->type() == QEvent::MouseButtonDblClick) {
        if (watched == Label3) {
            hotSpotDoubleClick();
            return true;
        }
        for (int i = 0; i < kSlots; ++i) {
            if (watched == Label33[i]) {
                renameUnit(i + 1);
                return true;
            }
        }
    }
    return QMdiSubWindow::eventFilter(watched, e);
}

}  // namespace lw::gui
