// The service's options (command line over the config file), its ring of
// recent records and the JSON it serves.
#include "service/serviceoptions.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QSysInfo>
#include <QTemporaryDir>

#include "core/boardjson.h"
#include "core/unitboard.h"
#include "service/recordring.h"

using lw::service::parseEndpoint;
using lw::service::readServiceOptions;
using lw::service::RecordRing;

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

lw::RecordEvent event(std::string_view text) {
    lw::RecordEvent e;
    e.kind = lw::ReportKind::Started;
    e.timeText = "10:15:07 PM";
    e.dateText = "3/1/2002";
    e.text = text;
    e.written = true;
    return e;
}

}  // namespace

TEST(ServiceOptions, CommandLineAloneWithDefaults) {
    const auto r = readServiceOptions({"--device", "/dev/ttyUSB0", "--activity", "--log", "a.log"});
    ASSERT_TRUE(r.ok) << r.error;
    EXPECT_EQ(r.value.device, "/dev/ttyUSB0");
    EXPECT_FALSE(r.value.port.has_value());
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
    EXPECT_EQ(both.value.port, 3);
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

TEST(ServiceOptions, MistakesAreRefusedWithAReason) {
    struct Row {
        std::vector<std::string> args;
        std::string says;
    };
    ConfigFile unknown("device=/dev/ttyUSB0\nbaud=9600\n");
    ConfigFile badFlag("device=/dev/ttyUSB0\nraw=sometimes\n");
    ConfigFile both("device=/dev/ttyUSB0\nport=2\n");
    const std::string huge(70000, 'x');
    ConfigFile big(huge.c_str());
    const std::vector<Row> rows{
        {{}, "give --port or --device"},
        {{"--port", "1", "--device", "/dev/ttyS0"}, "give --port or --device"},
        {{"--port", "0"}, "--port needs a number"},
        {{"--port", "256"}, "--port needs a number"},
        {{"--port", "x"}, "--port needs a number"},
        {{"--device"}, "--device needs a value"},
        {{"--device", ""}, "--device needs a value"},
        {{"--device", "/dev/x", "--bogus"}, "unknown argument --bogus"},
        {{"--device", "/dev/x", "stray"}, "unknown argument stray"},
        {{"--device", "/dev/x", "--http", "8480"}, "--http needs ADDR:PORT"},
        {{"--device", "/dev/x", "--http", "127.0.0.1:65536"}, "--http needs ADDR:PORT"},
        {{"--device", "/dev/x", "--http", "::1:80"}, "--http needs ADDR:PORT"},
        {{"--device", "/dev/x", "--http", "0.0.0.0:8480"}, "needs --http-token FILE"},
        {{"--device", "/dev/x", "--http", "192.168.1.5:8480"}, "needs --http-token FILE"},
        {{"--config"}, "--config needs a file"},
        {{"--config", "/nonexistent/monitor.conf"}, "the config file /nonexistent/monitor.conf does not exist"},
        {{"--config", "/dev/zero"}, "the config file /dev/zero is not a regular file"},
        {{"--device", "/dev/x", "--mqtt", "h:1", "--mqtt-credentials", "/dev/zero"},
         "the credentials file /dev/zero is not a regular file"},
        {{"--device", "/dev/x", "--http", "127.0.0.1:0", "--http-token", "/tmp"},
         "the token file /tmp is not a regular file"},
        {{"--device", "/dev/x", "--names", big.path()}, "is larger than 65536 bytes"},
        {{"--config", unknown.path()}, "unknown option \"baud\""},
        {{"--config", badFlag.path()}, "raw is true or false"},
        {{"--config", both.path()}, "give --port or --device"},
    };
    for (const Row& row : rows) {
        const auto r = readServiceOptions(row.args);
        EXPECT_FALSE(r.ok) << row.says;
        EXPECT_NE(r.error.find(row.says), std::string::npos) << r.error;
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
    ASSERT_TRUE(relative.ok);
    EXPECT_EQ(relative.value.device, token.path());
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

TEST(RecordRing, NumbersInOrderAndAnswersWhatCameAfter) {
    RecordRing ring(5);
    EXPECT_EQ(ring.jsonAfter(0, 500), "[]");
    for (int i = 1; i <= 8; ++i) ring.push(event("record " + std::to_string(i) + "\r\n"));
    EXPECT_EQ(ring.lastSeq(), 8u);
    EXPECT_EQ(ring.size(), 5u);  // the oldest three went

    auto seqs = [&](std::uint64_t after, std::size_t max) {
        std::vector<std::uint64_t> out;
        for (const auto* r : ring.after(after, max)) out.push_back(r->seq);
        return out;
    };
    EXPECT_EQ(seqs(0, 500), (std::vector<std::uint64_t>{4, 5, 6, 7, 8}));
    EXPECT_EQ(seqs(5, 500), (std::vector<std::uint64_t>{6, 7, 8}));
    EXPECT_EQ(seqs(0, 2), (std::vector<std::uint64_t>{7, 8}));  // the most recent ones
    EXPECT_EQ(seqs(6, 1), (std::vector<std::uint64_t>{8}));
    EXPECT_TRUE(seqs(8, 500).empty());
    EXPECT_TRUE(seqs(99, 500).empty());
    EXPECT_TRUE(seqs(0, 0).empty());
    EXPECT_EQ(ring.jsonAfter(7, 500),
              "[{\"seq\":8,\"time\":\"10:15:07 PM\",\"date\":\"3/1/2002\",\"text\":\"record "
              "8\\u000d\\u000a\",\"at\":\"\"}]");
}

TEST(BoardJson, RecordTextIsEscapedAsReceived) {
    EXPECT_EQ(lw::recordJson(3, "1:02:03 AM", "1/2/2003", std::string("a\"\\\x7f\xff\x00z", 7),
                             "2003-01-02T01:02:03+01:00"),
              "{\"seq\":3,\"time\":\"1:02:03 AM\",\"date\":\"1/2/2003\",\"text\":"
              "\"a\\\"\\\\\\u007f\\u00ff\\u0000z\",\"at\":\"2003-01-02T01:02:03+01:00\"}");
}

namespace {

// MQTT options, by the same reader.
lw::Result<lw::service::ServiceOptions> options(std::vector<std::string> args) {
    args.insert(args.begin(), {"--device", "/dev/null"});
    return lw::service::readServiceOptions(args);
}

}  // namespace

TEST(MqttOptions, DefaultsAndValues) {
    auto r = options({"--mqtt", "127.0.0.1:1883"});
    ASSERT_TRUE(r.ok) << r.error;
    EXPECT_EQ(r.value.mqttHost, "127.0.0.1");
    EXPECT_EQ(r.value.mqttPort, 1883);
    EXPECT_EQ(r.value.mqttPrefix, "linewarden");
    EXPECT_EQ(r.value.site, QSysInfo::machineHostName().toStdString());

    r = options({"--mqtt", "broker.chain.example:8883", "--mqtt-prefix", "chain/lw", "--site",
                 "Odeon 3", "--mqtt-credentials", "/etc/linewarden/mqtt", "--mqtt-cafile",
                 "/etc/linewarden/ca.crt"});
    ASSERT_TRUE(r.ok) << r.error;
    EXPECT_EQ(r.value.mqttHost, "broker.chain.example");
    EXPECT_EQ(r.value.mqttPort, 8883);
    EXPECT_EQ(r.value.mqttPrefix, "chain/lw");
    EXPECT_EQ(r.value.site, "Odeon 3");
    EXPECT_EQ(r.value.mqttCredentials, "/etc/linewarden/mqtt");
    EXPECT_EQ(r.value.mqttCafile, "/etc/linewarden/ca.crt");

    r = options({"--mqtt", "[::1]:1884"});
    ASSERT_TRUE(r.ok) << r.error;
    EXPECT_EQ(r.value.mqttHost, "::1");

    // Off unless asked for.
    r = options({});
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
        const auto r = options(args);
        EXPECT_FALSE(r.ok) << args.back();
        EXPECT_FALSE(r.error.empty());
    }
}

TEST(MqttOptions, FromTheConfigFileTheLineWins) {
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const QString conf = dir.filePath("monitor.conf");
    QFile f(conf);
    ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    f.write(
        "mqtt=broker.chain.example:1883\nmqtt-prefix=chain/lw\nsite=booth1\n"
        "mqtt-credentials=/etc/linewarden/mqtt\nmqtt-cafile=/etc/linewarden/ca.crt\n");
    f.close();
    const auto r = options({"--config", conf.toStdString(), "--site", "booth2"});
    ASSERT_TRUE(r.ok) << r.error;
    EXPECT_EQ(r.value.mqttHost, "broker.chain.example");
    EXPECT_EQ(r.value.mqttPrefix, "chain/lw");
    EXPECT_EQ(r.value.site, "booth2");
    EXPECT_EQ(r.value.mqttCredentials, "/etc/linewarden/mqtt");
    EXPECT_EQ(r.value.mqttCafile, "/etc/linewarden/ca.crt");
}
