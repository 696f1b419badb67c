#include "gui/approot.h"

#include <QDir>
#include <QSettings>
#include <QStandardPaths>

#include "core/reports.h"
#include "gui/alertbeeper.h"
#include "gui/form3.h"
#include "gui/frmmain.h"
#include "serial/commport.h"
#include "platform/localtime.h"

namespace lw::gui {

namespace {

// The unit names file, in the application's data folder.
QString defaultNamesPath() {
    const QString dir = QStandardPaths::writableLocation(QStandardPaths::AppDataLocation);
    QDir().mkpath(dir);
    return QDir(dir).filePath(QStringLiteral("remlabel.dat"));
}

}  // namespace

AppRoot::AppRoot() {
    ShellServices shell;
    shell.board = [this] {
        BoardServices board;
        auto port = std::make_unique<CommPort>();
        board.portDevice = [p = port.get()] { return p->device(); };
        board.port = std::move(port);
        board.time = std::make_unique<LocalTime>();
        board.beeper = std::make_unique<AlertBeeper>();
        board.sink = std::make_unique<DefaultLogFolderSink>(std::make_unique<FileLogSink>(),
                                                            Form3::defaultLogpath());
        board.dialogs = &m_dialogs;
        board.namesPath = defaultNamesPath();
        return board;
    };
    shell.detectionPort = std::make_unique<CommPort>();
    shell.settings = [] {
        return std::make_unique<QSettings>(settingsApplication(), settingsApplication());
    };
    shell.dialogs = &m_dialogs;
    m_main = std::make_unique<frmMain>(std::move(shell));
    m_dialogs.setParentWidget(m_main.get());
}

AppRoot::~AppRoot() = default;

}  // namespace lw::gui
