#include "gui/frmsplash.h"

#include <QCloseEvent>
#include <QFrame>
#include <QLabel>
#include <QMouseEvent>
#include <QPainter>
#include <QPainterPath>
#include <QPixmap>

#include "core/version.h"
#include "gui/twips.h"
#include "gui/userdialogs.h"

namespace lw::gui {

namespace {
QString programVersion() {
    return QString::fromLatin1(kProgramVersion.data(),
                               static_cast<qsizetype>(kProgramVersion.size()));
}
}  // namespace

QPixmap frmSplash::picture() {
    QPixmap pix(200, 83);
    pix.fill(Qt::white);
    QPainter p(&pix);
    p.setRenderHint(QPainter::Antialiasing);
    // The reel: a dark disc with five windows and a hub.
    const QPointF c(42, 41.5);
    p.setPen(Qt::NoPen);
    p.setBrush(QColor(40, 40, 40));
    p.drawEllipse(c, 38, 38);
    p.setBrush(Qt::white);
    for (int i = 0; i < 5; ++i) {
        p.save();
        p.translate(c);
        p.rotate(72.0 * i);
        p.drawEllipse(QPointF(0, -21), 9, 9);
        p.restore();
    }
    p.drawEllipse(c, 5, 5);
    // The strip of film running off to the right, with its sprocket holes.
    p.setBrush(QColor(40, 40, 40));
    QPainterPath strip;
    strip.moveTo(42, 3.5);
    strip.lineTo(196, 22);
    strip.lineTo(196, 52);
    strip.lineTo(70, 66);
    strip.closeSubpath();
    p.drawPath(strip);
    p.setBrush(QColor(255, 0, 0));
    for (int x = 92; x < 190; x += 16) p.drawRect(QRectF(x, 30, 10, 14));
    p.setBrush(Qt::white);
    for (int x = 86; x < 194; x += 9) {
        p.drawRect(QRectF(x, 24.5 - (196 - x) * 0.1, 4, 3));
        p.drawRect(QRectF(x, 49, 4, 3));
    }
    return pix;
}

frmSplash::frmSplash(UserDialogs& dialogs, std::function<void()> onUnload, QWidget* parent)
    : QMdiSubWindow(parent), m_dialogs(dialogs), m_onUnload(std::move(onUnload)) {
    setObjectName(QStringLiteral("frmSplash"));
    setWindowFlags(Qt::SubWindow | Qt::FramelessWindowHint);
    auto* c = new QWidget(this);
    c->setObjectName(QStringLiteral("frmSplashClient"));
    c->setAutoFillBackground(true);
    QPalette red = c->palette();
    red.setColor(QPalette::Window, QColor(255, 0, 0));
    c->setPalette(red);
    setWidget(c);

    Frame1 = place(new QFrame(c), QStringLiteral("Frame1"), 90, 90, 5775, 3030);
    Frame1->setAutoFillBackground(true);
    QPalette win = Frame1->palette();
    win.setColor(QPalette::Window, palette().color(QPalette::Base));
    Frame1->setPalette(win);
    Frame1->installEventFilter(this);

    // Positions below are the window's, on the frame that sits 90 twips in.
    constexpr int in = 90;
    Image1 = place(new QLabel(Frame1), QStringLiteral("Image1"), 240 - in, 210 - in, 2670, 1035);
    Image1->setPixmap(picture());
    Image1->setScaledContents(true);

    auto* line = place(new QFrame(Frame1), QStringLiteral("Line1"), 240 - in, 1365 - in, 5280, 30);
    line->setAutoFillBackground(true);
    line->setPalette(red);
    line->setAttribute(Qt::WA_TransparentForMouseEvents);  // a click on the rule closes too

    const QColor buttonText = palette().color(QPalette::ButtonText);
    auto label = [&](const char* name, const QString& text, int left, int top, int width,
                     int height, const QColor& back) {
        auto* l = place(new QLabel(text, Frame1), QString::fromLatin1(name), left - in, top - in,
                        width, height);
        l->setAutoFillBackground(true);
        QPalette p = l->palette();
        p.setColor(QPalette::Window, back);
        p.setColor(QPalette::WindowText, buttonText);
        l->setPalette(p);
        return l;
    };
    Label1 = label("Label1", QStringLiteral("LINEWARDEN"), 180, 1575, 4500, 630,
                   palette().color(QPalette::HighlightedText));
    Label1->setFont(controlFont("Arial", 30, true));
    Label1->setAlignment(Qt::AlignCenter);
    // Caption-text coloured backgrounds, as on the title bar's text.
    const QColor caption = palette().color(QPalette::HighlightedText);
    Label2 = label("Label2", QStringLiteral("WINDOWS 9x/NT 2000"), 270, 2250, 4065, 375, caption);
    Label2->setFont(controlFont("Arial", 18, true));
    Label3 = label("Label3", QStringLiteral("v") + programVersion(), 5265, 2745, 615, 225, caption);
    for (QLabel* l : {Image1, Label1, Label2, Label3}) l->installEventFilter(this);

    resize(twipsSize(5955, 3210, this));
    Timer1.setObjectName(QStringLiteral("Timer1"));
    Timer1.setInterval(2000);
    connect(&Timer1, &QTimer::timeout, this, [this] {
        if (m_onUnload) m_onUnload();
        unload();
    });
    Timer1.start();
}

void frmSplash::unload() {
    if (m_unloaded) return;
    m_unloaded = true;
    Timer1.stop();
    hide();
    if (m_onUnload) m_onUnload();
    deleteLater();
}

void frmSplash::versionDoubleClick() {
    if (++doubleClicks > 1) {
        Timer1.stop();
        m_dialogs.information(QStringLiteral("This Program Was Last Updated On 3-1-2002"),
                              QStringLiteral("VERSION ") + programVersion());
        doubleClicks = 0;
        Timer1.start();
    }
}

bool frmSplash::eventFilter(QObject* watched, QEvent* e) {
    if (watched == Frame1 && e->type() == QEvent::MouseButtonPress) {
        unload();
        return true;
    }
    if (watched == Label3 && e->type() == QEvent::MouseButtonDblClick) {
        versionDoubleClick();
        return true;
    }
    // A click on a label or the picture does not reach the frame.
    if (watched != Frame1 && watched->parent() == Frame1 && e->type() == QEvent::MouseButtonPress) {
        return true;
    }
    return QMdiSubWindow::eventFilter(watched, e);
}

void frmSplash::closeEvent(QCloseEvent* e) {
    e->ignore();
    unload();
}

}  // namespace lw::gui
