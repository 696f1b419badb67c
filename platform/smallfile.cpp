#include "platform/smallfile.h"

#include <QFile>
#include <QFileInfo>
#include <algorithm>

#ifndef Q_OS_WIN
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

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

Result<std::string> readPrivateFile(const std::string& path, const char* what,
                                    std::int64_t maxBytes) {
#ifdef Q_OS_WIN
    // No POSIX modes to look at: the regular-file and size checks only.
    return readSmallFile(path, what, maxBytes);
#else
    using R = Result<std::string>;
    const Result<> ok = checkReadableFile(path, what, maxBytes);
    if (!ok.ok) return R::failure(ok.error);
    const std::string name = std::string(what) + " " + path;
    // The checks again on what was opened, so nothing swapped in between
    // is read; non-blocking, so a pipe put there meanwhile cannot hang it.
    const int fd = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
    if (fd < 0) return R::failure(name + " cannot be read");
    struct stat st {};
    std::string refusal;
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        refusal = name + " is not a regular file";
    } else if ((st.st_mode & 077) != 0) {
        const char* how = (st.st_mode & 044) != 0   ? "readable by others"
                          : (st.st_mode & 022) != 0 ? "writable by others"
                                                    : "open to others";
        refusal = name + " is " + how + ": chmod 600 " + path;
    } else if (st.st_size > maxBytes) {
        refusal = name + " is larger than " + std::to_string(maxBytes) + " bytes";
    }
    std::string text;
    while (refusal.empty() && static_cast<std::int64_t>(text.size()) < maxBytes) {
        char buf[4096];
        const auto want =
            std::min<std::int64_t>(sizeof buf, maxBytes - static_cast<std::int64_t>(text.size()));
        const ssize_t n = ::read(fd, buf, static_cast<std::size_t>(want));
        if (n < 0) refusal = "cannot read " + name;
        if (n <= 0) break;
        text.append(buf, static_cast<std::size_t>(n));
    }
    ::close(fd);
    if (!refusal.empty()) return R::failure(refusal);
    return R::success(std::move(text));
#endif
}

}  // namespace lw
