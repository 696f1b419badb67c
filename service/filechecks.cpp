#include "service/filechecks.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include "service/serviceoptions.h"

namespace lw::service {

Result<> checkReadableFile(const std::string& path, const char* what, std::int64_t maxBytes) {
    const QFileInfo info(QString::fromStdString(path));
    const std::string name = std::string(what) + " " + path;
    if (!info.exists()) return Result<>::failure(name + " does not exist");
    if (!info.isFile()) return Result<>::failure(name + " is not a regular file");
    if (!info.isReadable()) return Result<>::failure(name + " cannot be read");
    if (info.size() > maxBytes) {
        return Result<>::failure(name + " is larger than " + std::to_string(maxBytes) + " bytes");
    }
    return {};
}

Result<std::string> readSmallFile(const std::string& path, const char* what,
                                  std::int64_t maxBytes) {
    using R = Result<std::string>;
    const Result<> ok = checkReadableFile(path, what, maxBytes);
    if (!ok.ok) return R::failure(ok.error);
    QFile f(QString::fromStdString(path));
    if (!f.open(QIODevice::ReadOnly)) {
        return R::failure("cannot read " + std::string(what) + " " + path + ": " +
                          f.errorString().toStdString());
    }
    // Read no more than allowed, even if it grew since the look.
    return R::success(f.read(maxBytes).toStdString());
}

Result<> checkServiceFiles(ServiceOptions& o) {
    struct Named {
        const std::string& path;
        const char* what;
        std::int64_t max;
        bool mayBeMissing;
    };
    // The names file may come later: the units are numbered until then.
    const Named files[] = {
        {o.httpTokenFile, "the token file", kMaxSecretFile, false},
        {o.mqttCredentials, "the credentials file", kMaxSecretFile, false},
        {o.mqttCafile, "the CA file", kMaxCaFile, false},
        {o.namesPath, "the names file", kMaxNamesFile, true},
        {o.httpsCert, "the certificate file", kMaxCaFile, false},
        {o.httpsKey, "the key file", kMaxSecretFile * 4, false},
    };
    for (const Named& f : files) {
        if (f.path.empty() || (f.mayBeMissing && !QFileInfo::exists(QString::fromStdString(f.path))))
            continue;
        const Result<> r = checkReadableFile(f.path, f.what, f.max);
        if (!r.ok) return r;
    }
    const QString device = QString::fromStdString(o.device);
    if (!device.isEmpty() && QFileInfo(device).isRelative() && QFileInfo::exists(device)) {
        o.device = QDir::current().absoluteFilePath(device).toStdString();
    }
    return {};
}

}  // namespace lw::service
