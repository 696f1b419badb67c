#pragma once
// The documents a test saw, against docs/schema/ with tests/schema_check.py
// (python3-jsonschema). Needs LW_SOURCE_DIR.
#include <QProcess>
#include <QTemporaryDir>
#include <QtTest>

namespace lwtest {

// Why the documents (one a line, of `kind` as schema_check.py takes it) are
// not valid; empty when they are, or when python3-jsonschema is missing
// (then said as a warning).
inline QString schemaErrors(const QString& kind, const QByteArray& lines) {
    QTemporaryDir dir;
    QFile f(dir.filePath(QStringLiteral("docs.jsonl")));
    if (!f.open(QIODevice::WriteOnly) || f.write(lines) != lines.size()) {
        return QStringLiteral("cannot write ") + f.fileName();
    }
    f.close();
    QProcess check;
    check.setProcessChannelMode(QProcess::MergedChannels);
    check.start(QStringLiteral("python3"),
                {QStringLiteral(LW_SOURCE_DIR "/tests/schema_check.py"),
                 QStringLiteral(LW_SOURCE_DIR "/docs/schema"), kind, f.fileName()});
    if (!check.waitForFinished(60000)) return QStringLiteral("schema_check.py did not finish");
    const QString out = QString::fromUtf8(check.readAll());
    if (check.exitCode() == 77) {
        qWarning("%s", qPrintable(out));
        return {};
    }
    return check.exitCode() == 0 ? QString() : out;
}

}  // namespace lwtest
