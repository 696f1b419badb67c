#include "net/mqtt/credentials.h"

#include <QFile>

namespace lw::mqtt {

namespace {

// A credentials file is two short lines; more is not read.
constexpr qint64 kCredentialsMax = 4096;

}  // namespace

Result<Credentials> parseCredentials(std::string_view fileText) {
    auto line = [&fileText]() {
        const auto nl = fileText.find('\n');
        std::string_view l = fileText.substr(0, nl);
        fileText = nl == std::string_view::npos ? std::string_view{} : fileText.substr(nl + 1);
        if (!l.empty() && l.back() == '\r') l.remove_suffix(1);
        return std::string(l);
    };
    Credentials c;
    c.user = line();
    c.password = line();
    if (c.user.empty())
        return Result<Credentials>::failure("the first line (the user) is empty", 1);
    return Result<Credentials>::success(std::move(c));
}

Result<Credentials> readCredentials(const std::string& path) {
    QFile f(QString::fromStdString(path));
    if (!f.open(QIODevice::ReadOnly)) {
        return Result<Credentials>::failure(path + ": cannot read the file");
    }
    auto c = parseCredentials(f.read(kCredentialsMax).toStdString());
    if (!c.ok) c.error = path + ": " + c.error;
    return c;
}

}  // namespace lw::mqtt
