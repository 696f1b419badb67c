#include "gui/form2.h"

#include <QCloseEvent>
#include <QCoreApplication>
#include <QEvent>
#include <QPlainTextEdit>
#include <QPointer>
#include <QTextDocument>
#include <algorithm>

#include "core/monitorsession.h"
#include "gui/twips.h"

namespace lw::gui {

namespace {
// The text box is repainted at most this often; the shown text itself changes
// on every drain tick.
constexpr int kRefreshMs = 40;
}  // namespace

QString displayText(std::string_view bytes) {
    const std::u32string d = displayFromBytes(bytes);
    return QString::fromUcs4(d.data(), static_cast<qsizetype>(d.size()));
}

std::string bytesOf(const QString& shown) {
    const QList<uint> ucs = shown.toUcs4();
    std::u32string d(ucs.begin(), ucs.end());
    return bytesFromDisplay(d);
}

Form2::Form2(QWidget* parent) : QMdiSubWindow(parent) {
    setObjectName(QStringLiteral("Form2"));
    setWindowTitle(QStringLiteral("KX-40 DATA BUSS"));
    auto* client = new QWidget(this);
    client->setObjectName(QStringLiteral("Form2Client"));
    setWidget(client);

    Text1 = place(new QPlainTextEdit(client), QStringLiteral("Text1"), 45, 105, 7125, 4215,
                  controlFont("Arial", 9.75, true));
    Text1->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    Text1->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOff);

    QPalette p = Text1->palette();
    p.setColor(QPalette::Text, QColor(192, 255, 255));
    p.setColor(QPalette::Base, p.color(QPalette::WindowText));  // the window frame colour
    Text1->setPalette(p);
    Text1->viewport()->installEventFilter(this);
    connect(Text1, &QPlainTextEdit::textChanged, this, [this] {
        if (!m_setting) textEdited();
    });

    m_refresh.setSingleShot(true);
    m_refresh.setInterval(kRefreshMs);
    connect(&m_refresh, &QTimer::timeout, this, [this] {
        if (m_painted != m_text) paintText();
    });

    Timer1.setObjectName(QStringLiteral("Timer1"));
    Timer1.setInterval(kFirstDrainIntervalMs);
    connect(&Timer1, &QTimer::timeout, this, &Form2::drainTick);
    Timer1.start();

    if (!isMinimized() && !isMaximized()) holdSize();
}

void Form2::load() {
    show();
    if (!isMinimized() && !isMaximized()) holdSize();
    move(twips(6000, this), 0);
}

void Form2::formkill() { showMinimized(); }

void Form2::Renamecap() {
    const int n = m_theport ? m_theport() : 0;
    setWindowTitle(QStringLiteral("KX-40 DATA BUSS  ") + QStringLiteral(" COMM #") +
                   QString::number(n));
}

void Form2::drainTick() {
    if (m_inTick) return;
    m_inTick = true;
    m_pacer.beginTick();
    // Let pending events run once: a decoder tick may add to the backlog here.
    QPointer<Form2> self(this);
    QCoreApplication::processEvents();
    if (!self) return;
    const std::string shown = m_pacer.finishTick();
    if (!shown.empty()) {
        Timer1.setInterval(m_pacer.interval);
        setShown(m_text + displayText(shown));
    }
    // An empty backlog has nothing for the next tick to do but wake us.
    if (m_pacer.newdata.empty()) {
        Timer1.stop();
    } else if (!Timer1.isActive()) {
        Timer1.start();
    }
    m_inTick = false;
}

void Form2::appendNewdata(std::string_view bytes) {
    m_pacer.append(bytes);
    if (!bytes.empty() && !m_inTick && !Timer1.isActive()) Timer1.start();
}

void Form2::setShown(const QString& text) {
    m_text = text;
    const qsizetype before = m_text.size();
    trimShown(m_text);
    m_trimmedSincePaint += before - m_text.size();
    if (!isMinimized() && !isMaximized()) holdSize();
    // Only a visible window spends time on the text box.
    if (isVisible() && !isMinimized() && !m_refresh.isActive()) m_refresh.start();
}

void Form2::textEdited() {
    // The user typed into what the box holds, which may lag behind the text:
    // the same edit is made to the text, so no received character is lost.
    const QString now = editorText();
    const qsizetype oldLen = m_painted.size();
    const qsizetype newLen = now.size();
    qsizetype head = 0;
    while (head < oldLen && head < newLen && m_painted[head] == now[head]) ++head;
    qsizetype tail = 0;
    while (tail < oldLen - head && tail < newLen - head &&
           m_painted[oldLen - 1 - tail] == now[newLen - 1 - tail]) {
        ++tail;
    }
    const QString typed = now.mid(head, newLen - tail - head);
    // Box positions move back by what a trim took off the text's front.
    const qsizetype from = std::max<qsizetype>(0, head - m_trimmedSincePaint);
    const qsizetype to = std::max<qsizetype>(0, oldLen - tail - m_trimmedSincePaint);
    m_text = m_text.left(from) + typed + m_text.mid(to);
    const qsizetype before = m_text.size();
    trimShown(m_text);
    if (m_text == now) {
        m_painted = now;
        m_trimmedSincePaint = 0;
        return;
    }
    paintText(std::max<qsizetype>(0, from + typed.size() - (before - m_text.size())));
}

void Form2::paintText(qsizetype cursor) {
    m_setting = true;
    Text1->setPlainText(m_text);
    QTextCursor c = Text1->textCursor();
    if (cursor < 0) {
        c.movePosition(QTextCursor::End);
    } else {
        c.setPosition(static_cast<int>(std::min(cursor, m_text.size())));
    }
    Text1->setTextCursor(c);
    m_setting = false;
    m_painted = m_text;
    m_trimmedSincePaint = 0;
}

QString Form2::editorText() const {
    // The document's own characters: its plain text would turn a received
    // 0xA0 (no-break space) into a blank.
    QString t = Text1->document()->toRawText();
    for (QChar& c : t) {
        const char16_t u = c.unicode();
        if (u == QChar::ParagraphSeparator || u == QChar::LineSeparator || u == 0xFDD0 ||
            u == 0xFDD1) {
            c = QLatin1Char('\n');
        }
    }
    return t;
}

QString Form2::shownText() const { return m_text; }

void Form2::quickSave() {
    if (!m_session) return;
    const Result<> r = m_session->quickSave(bytesOf(m_text));
    if (!r.ok) {
        // The text is the user's own to keep until it is saved.
        if (m_quickSaveFailed) m_quickSaveFailed(r.error);
        return;
    }
    setShown(QString());
    m_refresh.stop();
    paintText();
}

void Form2::holdSize() {
    const QSize want = twipsSize(7395, 4830, this);
    if (size() != want) resize(want);
}

void Form2::resizeEvent(QResizeEvent* e) {
    QMdiSubWindow::resizeEvent(e);
    if (!isMinimized() && !isMaximized()) {
        holdSize();
        if (y() != 0) move(x(), 0);
        if (isVisible()) m_refresh.start();
    }
    Renamecap();
}

void Form2::focusInEvent(QFocusEvent* e) {
    QMdiSubWindow::focusInEvent(e);
    // A minimised window keeps its icon size; restoring it sets the size.
    if (!isMinimized()) holdSize();
}

void Form2::closeEvent(QCloseEvent* e) {
    // Closing by the frame only minimises: the backlog and text are kept.
    e->ignore();
    showMinimized();
}

bool Form2::eventFilter(QObject* watched, QEvent* e) {
    if (!Text1) return QMdiSubWindow::eventFilter(watched, e);  // still being built
    if (watched == Text1->viewport() && e->type() == QEvent::MouseButtonDblClick) {
        quickSave();
        return true;
    }
    if (watched == Text1->viewport() && e->type() == QEvent::Show) m_refresh.start();
    return QMdiSubWindow::eventFilter(watched, e);
}

}  // namespace lw::gui
