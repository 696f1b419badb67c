#pragma once

#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <string_view>

#ifdef QT_CORE_LIB
#include <QByteArray>
#include <QByteArrayView>
#include <QString>
#endif

namespace lwtest {

// A whole file's bytes; empty when it cannot be read.
inline std::string readFile(const std::filesystem::path& p) {
    std::ifstream in(p, std::ios::binary);
    std::ostringstream s;
    s << in.rdbuf();
    return s.str();
}

// The file made to hold exactly `bytes`; false when it cannot be.
inline bool writeFile(const std::filesystem::path& p, std::string_view bytes) {
    std::ofstream out(p, std::ios::binary | std::ios::trunc);
    out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    return static_cast<bool>(out.flush());
}

#ifdef QT_CORE_LIB
inline std::string readFile(const QString& p) {
    return readFile(std::filesystem::path(p.toStdString()));
}
inline bool writeFile(const QString& p, QByteArrayView bytes) {
    return writeFile(std::filesystem::path(p.toStdString()),
                     std::string_view(bytes.data(), static_cast<std::size_t>(bytes.size())));
}
inline bool writeFile(const QString& p, const char* text) {
    return writeFile(p, QByteArrayView(text));
}
inline bool writeFile(const QString& p, const QByteArray& bytes) {
    return writeFile(p, QByteArrayView(bytes));
}
#endif

}  // namespace lwtest
