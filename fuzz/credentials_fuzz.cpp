// The MQTT credentials file as the service reads it: checked as a small
// regular file, then its user and password; read or refused with a reason,
// and what is read holds no line break.
#include <QTemporaryDir>
#include <cstddef>
#include <cstdint>
#include <fstream>
#include <string>

#include "fuzz/fuzzcheck.h"
#include "net/mqtt/credentials.h"
#include "platform/smallfile.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    static QTemporaryDir dir;
    static const std::string path = dir.filePath(QStringLiteral("credentials")).toStdString();
    std::ofstream(path, std::ios::binary | std::ios::trunc)
        .write(reinterpret_cast<const char*>(data), static_cast<std::streamsize>(size));
    const auto text = lw::readSmallFile(path, "the credentials file", lw::kMaxSecretFile);
    LW_FUZZ_CHECK(text.ok == (size <= static_cast<std::size_t>(lw::kMaxSecretFile)));
    if (!text.ok) return 0;
    LW_FUZZ_CHECK(text.value.size() == size);
    const auto c = lw::mqtt::parseCredentials(text.value);
    if (!c.ok) {
        LW_FUZZ_CHECK(!c.error.empty());
        return 0;
    }
    LW_FUZZ_CHECK(!c.value.user.empty());
    LW_FUZZ_CHECK(c.value.user.find('\n') == std::string::npos &&
                  c.value.password.find('\n') == std::string::npos);
    return 0;
}
