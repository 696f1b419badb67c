// The command lines of the service and the replay tool: the service's
// options over its config file, and every refusal of either with its reason.
#include "service/serviceoptions.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSysInfo>
#include <QTemporaryDir>

#include "platform/smallfile.h"
#include "tools/replayoptions.h"

#include <sys/stat.h>

#include <filesystem>

using lw::service::parseEndpoint;
using lw::service::readServiceOptions;

namespace {

class ConfigFile {
public:
    explicit ConfigFile(const char* text) {
        m_path = m_dir.filePath(QStringLiteral("monitor.conf")).toStdString();
        QFile f(QString::fromStdString(m_path));
        EXPECT_TRUE(f.open(QIODevice::WriteOnly));
        f.write(text);
    }
    const std::string& path() const { return m_path; }

private:
    QTemporaryDir m_dir;
    std::string m_path;
};


}  // namespace

TEST(ServiceOptions, CommandLineAloneWithDefaults) {
    const auto r = readServiceOptions({"--device", "/dev/ttyUSB0", "--activity", "--log", "a.log"});
    ASSERT_TRUE(r.ok) << r.error;
    EXPECT_EQ(r.value.device, "/dev/ttyUSB0");
    EXPECT_FALSE(r.value.comNumber.has_value());
    EXPECT_EQ(r.value.softwareVersion, "HUBQV-2");
    EXPECT_TRUE(r.value.activity);
    EXPECT_FALSE(r.value.raw);
    EXPECT_FALSE(r.value.noise);
    EXPECT_EQ(r.value.logPath, "a.log");
    EXPECT_FALSE(r.value.http.has_value());
}

TEST(ServiceOptions, ConfigFileUnderTheCommandLine) {
    ConfigFile ini(
        "device=/dev/ttyS4\n"
        "software-version=KX40JV-10\n"
        "log=/var/lib/linewarden/kx40buss.txt\n"
        "raw=true\n"
        "noise=false\n"
        "activity=yes\n"
        "http=127.0.0.1:8480\n");
    const auto fileOnly = readServiceOptions({"--config", ini.path()});
    ASSERT_TRUE(fileOnly.ok) << fileOnly.error;
    EXPECT_EQ(fileOnly.value.device, "/dev/ttyS4");
    EXPECT_EQ(fileOnly.value.softwareVersion, "KX40JV-10");
    EXPECT_TRUE(fileOnly.value.raw);
    EXPECT_TRUE(fileOnly.value.activity);
    ASSERT_TRUE(fileOnly.value.http.has_value());
    EXPECT_EQ(fileOnly.value.http->port, 8480);

    // Wherever --config stands, the line wins; a --port replaces the file's device.
    const auto both = readServiceOptions({"--log", "mine.log", "--noise", "--config", ini.path(),
                                          "--port", "3", "--http", "[::1]:0"});
    ASSERT_TRUE(both.ok) << both.error;
    EXPECT_EQ(both.value.logPath, "mine.log");
    EXPECT_TRUE(both.value.noise);
    EXPECT_TRUE(both.value.raw);
    EXPECT_EQ(both.value.comNumber, 3);
    EXPECT_TRUE(both.value.device.empty());
    EXPECT_TRUE(both.value.http->loopback());
    EXPECT_EQ(both.value.configPath, ini.path());
}

TEST(ServiceOptions, ConfigValuesKeepTheirCommasAndBlanks) {
    ConfigFile ini("device=/dev/ttyUSB0\nsoftware-version=\"HUB 8, rev b\"\nlog=/tmp/a,b.log\n");
    const auto r = readServiceOptions({"--config", ini.path()});
    ASSERT_TRUE(r.ok) << r.error;
    EXPECT_EQ(r.value.softwareVersion, "HUB 8, rev b");
    EXPECT_EQ(r.value.logPath, "/tmp/a,b.log");
}

// One row per bad line, with the exact reason the program gives.
TEST(OptionRefusals, EachBadArgumentWithItsReason) {
    enum class Program { Service, Replay };
    struct Row {
        Program program;
        std::vector<std::string> args;
        std::string reason;
    };
    ConfigFile unknown("device=/dev/ttyUSB0\nbaud=9600\n");
    ConfigFile badFlag("device=/dev/ttyUSB0\nraw=sometimes\n");
    ConfigFile both("device=/dev/ttyUSB0\nport=2\n");
    ConfigFile nested("device=/dev/ttyUSB0\nconfig=/etc/other.conf\n");
    const std::string huge(70000, 'x');
    ConfigFile big(huge.c_str());
    const auto S = Program::Service;
    const auto R = Program::Replay;
    const std::string ports = "--port needs a number from 1 to 255";
    const std::string far = "--until is at most 8640000000 ms (100 days)";
    const std::vector<Row> rows{
        {S, {}, "give --port or --device"},
        {S, {"--port", "1", "--device", "/dev/ttyS0"}, "give --port or --device"},
        {S, {"--port", "0"}, ports},
        {S, {"--port", "256"}, ports},
        {S, {"--port", "x"}, ports},
        {S, {"--device"}, "--device needs a value"},
        {S, {"--device", ""}, "--device needs a value"},
        {S, {"--device", "/dev/x", "--bogus"}, "unknown argument --bogus"},
        {S, {"--device", "/dev/x", "stray"}, "unknown argument stray"},
        {S, {"--device", "/dev/x", "--http", "8480"}, "--http needs ADDR:PORT, not \"8480\""},
        {S, {"--device", "/dev/x", "--http", "127.0.0.1:65536"},
         "--http needs ADDR:PORT, not \"127.0.0.1:65536\""},
        {S, {"--device", "/dev/x", "--http", "::1:80"}, "--http needs ADDR:PORT, not \"::1:80\""},
        {S, {"--device", "/dev/x", "--http", "0.0.0.0:8480"},
         "--http on an address other than loopback needs --http-token FILE"},
        {S, {"--device", "/dev/x", "--http", "192.168.1.5:8480"},
         "--http on an address other than loopback needs --http-token FILE"},
        {S, {"--device", "/dev/x", "--mqtt-prefix", "lw"},
         "--mqtt-prefix, --mqtt-credentials and --mqtt-cafile need --mqtt"},
        {S, {"--device", "/dev/x", "--ha-discovery"}, "--ha-discovery and --ha-remove need --mqtt"},
        {S, {"--ha-remove"}, "--ha-discovery and --ha-remove need --mqtt"},
        {S, {"--device", "/dev/x", "--mqtt", "h:1", "--ha-discovery=home+assistant"},
         "--ha-discovery: the discovery prefix holds a wildcard or NUL character"},
        {S, {"--device", "/dev/x", "--metrics"}, "--metrics and --no-board need --http"},
        {S, {"--device", "/dev/x", "--http", "127.0.0.1:0", "--no-board"},
         "--no-board leaves only /metrics: give --metrics"},
        {S, {"--device=/dev/x", "--raw=sometimes"}, "raw is true or false, not \"sometimes\""},
        {S, {"--config"}, "--config needs a value"},
        {S, {"--config", "/nonexistent/monitor.conf"},
         "the config file /nonexistent/monitor.conf does not exist"},
        {S, {"--config", "/dev/zero"}, "the config file /dev/zero is not a regular file"},
        {S, {"--device", "/dev/x", "--mqtt", "h:1", "--mqtt-credentials", "/dev/zero"},
         "the credentials file /dev/zero is not a regular file"},
        {S, {"--device", "/dev/x", "--http", "127.0.0.1:0", "--http-token", "/tmp"},
         "the token file /tmp is not a regular file"},
        {S, {"--device", "/dev/x", "--names", big.path()},
         "the names file " + big.path() + " is larger than 65536 bytes"},
        {S, {"--config", unknown.path()}, unknown.path() + ": unknown option \"baud\""},
        {S, {"--config", nested.path()}, nested.path() + ": unknown option \"config\""},
        {S, {"--config", badFlag.path()},
         badFlag.path() + ": raw is true or false, not \"sometimes\""},
        {S, {"--config", both.path()}, "give --port or --device"},
        {R, {}, "no capture file"},
        {R, {"a.cap", "b.cap"}, "only one capture file"},
        {R, {"a.cap", "--bogus"}, "unknown argument --bogus"},
        {R, {"a.cap", "--log"}, "--log needs a value"},
        {R, {"a.cap", "--log", ""}, "--log needs a value"},
        {R, {"a.cap", "--board", ""}, "--board needs a value"},
        {R, {"a.cap", "--until", "soon"}, "--until needs a number of milliseconds"},
        {R, {"a.cap", "--until", "-5"}, "--until needs a number of milliseconds"},
        {R, {"a.cap", "--until", "8640000001"}, far},
        {R, {"a.cap", "--until", "9223372036854775807"}, far},
        {R, {"a.cap", "--until", "99999999999999999999"}, far},
    };
    for (const Row& row : rows) {
        const std::string error = row.program == S ? readServiceOptions(row.args).error
                                                   : lw::readReplayLine(row.args).error;
        EXPECT_EQ(error, row.reason) << (row.args.empty() ? "(no arguments)" : row.args.back());
    }
    // With a token, any address will do.
    ConfigFile token("t\n");
    EXPECT_TRUE(readServiceOptions(
                    {"--device", "/dev/x", "--http", "0.0.0.0:8480", "--http-token", token.path()})
                    .ok);
    // A relative device that is here is taken from here, not from /dev.
    const QString here = QDir::currentPath();
    QDir::setCurrent(QFileInfo(QString::fromStdString(token.path())).path());
    const auto relative = readServiceOptions({"--device", "monitor.conf"});
    QDir::setCurrent(here);
    ASSERT_TRUE(relative.ok) << relative.error;
    EXPECT_EQ(relative.value.device, token.path());
}

// A file of secrets is read only when nobody but its owner may read or
// write it, and only when it is a small regular file.
TEST(OptionRefusals, PrivateFileOnlyItsOwnerMayTouch) {
    const ConfigFile text("xxxxx");
    const std::string dir = QFileInfo(QString::fromStdString(text.path())).path().toStdString();
    const auto copy = [&](const char* name, mode_t mode) {
        const std::string path = dir + "/" + name;
        std::filesystem::copy_file(text.path(), path);
        ::chmod(path.c_str(), mode);
        return path;
    };
    const std::string fifo = dir + "/fifo", w = "the operator-token file ";
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    const std::string mine = copy("600", 0600), all = copy("644", 0644), group = copy("620", 0620);
    const std::pair<std::string, std::string> rows[] = {
        {mine, ""},
        {all, w + all + " is readable by others: chmod 600 " + all},
        {group, w + group + " is writable by others: chmod 600 " + group},
        {fifo, w + fifo + " is not a regular file"},
        {"/dev/null", w + "/dev/null is not a regular file"},
    };
    for (const auto& [path, error] : rows) {
        const auto got = lw::readPrivateFile(path, "the operator-token file", lw::kMaxSecretFile);
        EXPECT_EQ(got.error, error) << path;
        EXPECT_EQ(got.value, error.empty() ? "xxxxx" : "") << path;
    }
}

TEST(OptionRefusals, TheUsageListsEveryOptionOnce) {
    for (const std::string& usage : {lw::service::serviceUsage(), lw::replayUsage()}) {
        for (const char* name : {"--software-version TEXT", "--log FILE", "--raw", "--noise",
                                 "--activity", "--names FILE"}) {
            const std::size_t at = usage.find(std::string("  ") + name);
            EXPECT_NE(at, std::string::npos) << name;
            EXPECT_EQ(usage.find(std::string("  ") + name, at + 1), std::string::npos) << name;
        }
    }
}

TEST(ServiceOptions, Endpoints) {
    EXPECT_TRUE(parseEndpoint("127.0.0.1:8480")->loopback());
    EXPECT_TRUE(parseEndpoint("localhost:8480")->loopback());
    EXPECT_TRUE(parseEndpoint("[::1]:8480")->loopback());
    EXPECT_FALSE(parseEndpoint("10.0.0.7:80")->loopback());
    EXPECT_EQ(parseEndpoint("127.0.0.1:0")->port, 0);
    for (const char* bad : {"", ":80", "127.0.0.1:", "127.0.0.1", "host.example:80", "[::1:80",
                            "127.0.0.1:80x", "127.0.0.1:-1", "300.1.1.1:80"}) {
        EXPECT_FALSE(parseEndpoint(bad).has_value()) << bad;
    }
}

namespace {

// // MQTT options, by the same reader.
lw::Result<lw::service::ServiceOptions> mqttOptions(std::vector<std::string> args) {
    args.insert(args.begin(), {"--device", "/dev/null"});
    return readServiceOptions(args);
}

}  // namespace

TEST(MqttOptions, DefaultsAndValues) {
    auto r = mqttOptions({"--mqtt", "127.0.0.1:1883"});
    ASSERT_TRUE(r.ok) << r.error;
    EXPECT_EQ(r.value.mqttHost, "127.0.0.1");
    EXPECT_EQ(r.value.mqttPort, 1883);
    EXPECT_EQ(r.value.mqttPrefix, "linewarden");
    EXPECT_EQ(r.value.site, QSysInfo::machineHostName().toStdString());

    // The files must be there: they are checked before the service starts.
    ConfigFile cred("user\npass\n"), ca("-----BEGIN CERTIFICATE-----\n");
    r = mqttOptions({"--mqtt", "broker.chain.example:8883", "--mqtt-prefix", "chain/lw", "--site",
                     "Odeon 3", "--mqtt-credentials", cred.path(), "--mqtt-cafile", ca.path()});
    ASSERT_TRUE(r.ok) << r.error;
    EXPECT_EQ(r.value.mqttHost, "broker.chain.example");
    EXPECT_EQ(r.value.mqttPort, 8883);
    EXPECT_EQ(r.value.mqttPrefix, "chain/lw");
    EXPECT_EQ(r.value.site, "Odeon 3");
    EXPECT_EQ(r.value.mqttCredentials, cred.path());
    EXPECT_EQ(r.value.mqttCafile, ca.path());

    r = mqttOptions({"--mqtt", "[::1]:1884"});
    ASSERT_TRUE(r.ok) << r.error;
    EXPECT_EQ(r.value.mqttHost, "::1");

    // Off unless asked for.
    r = mqttOptions({});
    ASSERT_TRUE(r.ok);
    EXPECT_TRUE(r.value.mqttHost.empty());
}

TEST(MqttOptions, WhatIsRefused) {
    const std::vector<std::vector<std::string>> bad = {
        {"--mqtt", "broker"},
        {"--mqtt", "broker:"},
        {"--mqtt", "broker:0"},
        {"--mqtt", "broker:70000"},
        {"--mqtt", "::1:1883"},
        {"--mqtt", "bro ker:1883"},
        {"--mqtt-credentials", "/etc/linewarden/mqtt"},
        {"--mqtt", "broker:1883", "--site", "a/b"},
        {"--mqtt", "broker:1883", "--site", "booth#"},
        {"--mqtt", "broker:1883", "--mqtt-prefix", "lw/+"},
        {"--mqtt", "broker:1883", "--mqtt-prefix", "/lw"},
    };
    for (const auto& args : bad) {
        const auto r = mqttOptions(args);
        EXPECT_FALSE(r.ok) << args.back();
        EXPECT_FALSE(r.error.empty());
    }
}

TEST(MqttOptions, HomeAssistantAndMetrics) {
    const std::vector<std::pair<std::vector<std::string>, std::string>> prefixes{
        {{"--mqtt", "h:1"}, ""},
        {{"--mqtt", "h:1", "--ha-discovery"}, "homeassistant"},
        {{"--mqtt=h:1", "--ha-discovery=site/ha"}, "site/ha"},
        {{"--mqtt", "h:1", "--ha-discovery=false"}, ""},
    };
    for (const auto& [args, prefix] : prefixes) EXPECT_EQ(mqttOptions(args).value.haDiscovery, prefix);
    const auto web = mqttOptions({"--http", "127.0.0.1:0", "--metrics", "--no-board"});
    EXPECT_TRUE(web.value.metrics && web.value.noBoard);
    // Removing needs the broker, not the bus; it takes HA's default prefix.
    const auto remove = readServiceOptions({"--mqtt", "h:1", "--ha-remove"});
    ASSERT_TRUE(remove.ok) << remove.error;
    EXPECT_EQ(remove.value.haDiscovery, "homeassistant");
    ConfigFile ini("device=/dev/x\nmqtt=h:1\nha-discovery=chain/ha\n");
    EXPECT_EQ(readServiceOptions({"--config", ini.path()}).value.haDiscovery, "chain/ha");
}

TEST(MqttOptions, FromTheConfigFileTheLineWins) {
    ConfigFile cred("user\npass\n"), ca("-----BEGIN CERTIFICATE-----\n");
    const std::string text = "mqtt=broker.chain.example:1883\nmqtt-prefix=chain/lw\nsite=booth1\n"
                             "mqtt-credentials=" + cred.path() + "\nmqtt-cafile=" + ca.path() + "\n";
    ConfigFile conf(text.c_str());
    const auto r = mqttOptions({"--config", conf.path(), "--site", "booth2"});
    ASSERT_TRUE(r.ok) << r.error;
    EXPECT_EQ(r.value.mqttHost, "broker.chain.example");
    EXPECT_EQ(r.value.mqttPrefix, "chain/lw");
    EXPECT_EQ(r.value.site, "booth2");
    EXPECT_EQ(r.value.mqttCredentials, cred.path());
    EXPECT_EQ(r.value.mqttCafile, ca.path());
}
