#include "service/web/newtoken.h"

#include <QRandomGenerator>
#include <QSysInfo>
#include <array>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <unistd.h>

#include "service/serviceoptions.h"

namespace lw::service {

namespace {

std::string valueAfter(const std::vector<std::string>& args, const char* name) {
    for (std::size_t i = 0; i + 1 < args.size(); ++i) {
        if (args[i] == name) return args[i + 1];
    }
    return {};
}

}  // namespace

std::optional<int> newTokenCommand(const std::vector<std::string>& args, std::ostream& out,
                                   std::ostream& err) {
    bool asked = false;
    for (const std::string& a : args) asked = asked || a == "--new-token";
    if (!asked) return std::nullopt;
    const std::string path = valueAfter(args, "--new-token");
    if (path.empty() || path.starts_with("--")) {
        err << kServiceName << ": --new-token needs a file\n";
        return 2;
    }
    std::array<quint32, 8> words{};
    QRandomGenerator::system()->fillRange(words.data(), words.size());
    static constexpr char hex[] = "0123456789abcdef";
    std::string token;
    for (const quint32 w : words) {
        for (int shift = 28; shift >= 0; shift -= 4) token += hex[(w >> shift) & 0xF];
    }
    // A new file only, readable by its owner alone: an old token is never
    // overwritten by mistake.
    const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL, 0600);
    if (fd < 0) {
        err << kServiceName << ": cannot create " << path << ": " << std::strerror(errno) << '\n';
        return 1;
    }
    const std::string line = token + '\n';
    const bool written = ::write(fd, line.data(), line.size()) == static_cast<ssize_t>(line.size());
    if (::close(fd) != 0 || !written) {
        err << kServiceName << ": cannot write " << path << '\n';
        ::unlink(path.c_str());
        return 1;
    }
    const auto at = parseEndpoint(valueAfter(args, "--http"));
    std::string where = "127.0.0.1:8480";
    if (at && at->port != 0) {
        QString host = at->address.toString();
        // Listening everywhere: the browser needs this host's own name.
        if (at->address == QHostAddress::AnyIPv4 || at->address == QHostAddress::AnyIPv6) {
            host = QSysInfo::machineHostName();
        } else if (at->address.protocol() == QAbstractSocket::IPv6Protocol) {
            host = '[' + host + ']';
        }
        where = host.toStdString() + ':' + std::to_string(at->port);
    }
    const char* scheme = valueAfter(args, "--https-cert").empty() ? "http://" : "https://";
    out << "token written to " << path << "; with --http-token " << path << " open\n"
        << scheme << where << "/?token=" << token << '\n';
    return 0;
}

}  // namespace lw::service
