#include "service/filechecks.h"

#include <QDir>
#include <QFileInfo>

#include "service/serviceoptions.h"

namespace lw::service {

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
