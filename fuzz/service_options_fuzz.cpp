// The service's command line over its INI config file: whatever they hold,
// the options are refused with a reason or hang together (a COM port or a
// device, never both; off loopback only with a token; MQTT settings only
// with a broker).
//
// Input: the config file's text, a NUL, then the arguments split at NULs.
#include <QTemporaryDir>
#include <cstddef>
#include <cstdint>
#include <fstream>
#include <string>
#include <vector>

#include "fuzz/fuzzcheck.h"
#include "service/serviceoptions.h"

namespace {

const std::string& configPath() {
    static QTemporaryDir dir;
    static const std::string path = dir.filePath(QStringLiteral("monitor.conf")).toStdString();
    return path;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string all(reinterpret_cast<const char*>(data), size);
    const std::size_t nul = all.find('\0');
    std::ofstream(configPath(), std::ios::binary | std::ios::trunc) << all.substr(0, nul);
    std::vector<std::string> args{"--config", configPath()};
    if (nul != std::string::npos) {
        std::size_t at = nul + 1;
        while (at <= all.size() && args.size() < 32) {
            const std::size_t next = std::min(all.find('\0', at), all.size());
            args.push_back(all.substr(at, next - at));
            at = next + 1;
        }
    }
    const auto r = lw::service::readServiceOptions(args);
    if (!r.ok) {
        LW_FUZZ_CHECK(!r.error.empty());
        return 0;
    }
    const lw::service::ServiceOptions& o = r.value;
    LW_FUZZ_CHECK(o.port.has_value() != !o.device.empty());
    LW_FUZZ_CHECK(!o.http || o.http->loopback() || !o.httpTokenFile.empty());
    LW_FUZZ_CHECK(!o.mqttHost.empty() || (o.mqttCredentials.empty() && o.mqttCafile.empty()));
    LW_FUZZ_CHECK(!o.softwareVersion.empty());
    return 0;
}
