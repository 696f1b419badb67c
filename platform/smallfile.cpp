#include "platform/smallfile.h"

#include <QFile>
#include <QFileInfo>

namespace lw {

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

}  // namespace lw
