// Home Assistant discovery configs and the Prometheus exposition, against
// expected files in tests/data/integrations/ (LW_UPDATE_GOLDEN=1 rewrites them).
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <fstream>

#include "core/hadiscovery.h"
#include "core/prometheustext.h"
#include "support/files.h"

namespace {

const std::filesystem::path kData =
    std::filesystem::path(LW_SOURCE_DIR) / "tests/data/integrations";

void expectGolden(const std::string& file, const std::string& actual) {
    const auto path = kData / file;
    if (std::getenv("LW_UPDATE_GOLDEN")) std::ofstream(path, std::ios::binary) << actual;
    if (lwtest::readFile(path) == actual) return;
    const auto written = std::filesystem::current_path() / (file + ".actual");
    std::ofstream(written, std::ios::binary) << actual;
    ADD_FAILURE() << "differs: diff -u " << path << ' ' << written;
}

lw::ha::DiscoverySetup booth() {
    lw::ha::DiscoverySetup s;
    s.topicBase = "linewarden/Booth 7";
    s.site = "Booth 7";
    s.siteDevice = {"LINEWARDEN", "linewarden-monitor", "9.9.9"};
    s.unitDevice = {"KX-40", "KX-40 film-show automation unit", "HUBQV-2"};
    s.origin = "linewarden-monitor";
    return s;
}

}  // namespace

TEST(HaDiscovery, SiteAndUnitConfigs) {
    std::string text;
    auto add = [&text](const std::vector<lw::ha::ConfigMessage>& v) {
        for (const auto& m : v) text += m.topic + '\n' + m.payload + "\n\n";
    };
    add(lw::ha::siteConfigs(booth()));
    add(lw::ha::unitConfigs(booth(), 3, "SCREEN \xC9\"3\" "));
    add(lw::ha::unitConfigs(booth(), 16, "16 "));
    expectGolden("ha_configs.txt", text);
}

TEST(HaDiscovery, IdsAndTopicsComeFromSiteAndUnitOnly) {
    // Renamed, a unit keeps its topics and ids; only its device's name follows.
    const auto named = lw::ha::unitConfigs(booth(), 5, "SCREEN 5");
    const auto renamed = lw::ha::unitConfigs(booth(), 5, "FOYER");
    ASSERT_EQ(named.size(), renamed.size());
    for (std::size_t i = 0; i < named.size(); ++i) {
        EXPECT_EQ(named[i].topic, renamed[i].topic);
        const auto device = named[i].payload.find("\"device\"");
        EXPECT_EQ(named[i].payload.substr(0, device), renamed[i].payload.substr(0, device));
        EXPECT_NE(named[i].payload, renamed[i].payload);
    }
    // Removal reaches every config the site can publish.
    std::vector<std::string> all;
    for (const auto& m : lw::ha::siteConfigs(booth())) all.push_back(m.topic);
    for (int n = 1; n <= 16; ++n)
        for (const auto& m : lw::ha::unitConfigs(booth(), n, "")) all.push_back(m.topic);
    EXPECT_EQ(lw::ha::allConfigTopics(booth()), all);
}

TEST(HaDiscovery, UnitsGetEntitiesOnceHeard) {
    struct Step {
        int unit;  // 0: none changes
        bool present;
        std::string name;
        std::size_t published;   // configs update() gives
        std::size_t everything;  // configs a connect or HA's birth gives after it
    };
    const std::size_t site = lw::ha::siteConfigs(booth()).size();
    const std::size_t unit = lw::ha::unitConfigs(booth(), 1, "").size();
    const std::vector<Step> steps = {
        {0, false, "", 0, site},          // nothing heard: the site alone
        {4, false, "SCREEN 4", 0, site},  // a name alone is not being heard
        {4, true, "SCREEN 4", unit, site + unit},
        {4, true, "SCREEN 4", 0, site + unit},   // nothing new: nothing again
        {4, false, "SCREEN 4", 0, site + unit},  // gone quiet: its entities stay
        {4, false, "FOYER", unit, site + unit},  // renamed: the device's name follows
        {9, true, "", unit, site + 2 * unit},
    };
    lw::ha::DiscoveryTracker tracker(booth());
    std::array<lw::ha::UnitSeen, 16> units{};
    for (const Step& s : steps) {
        if (s.unit) units[static_cast<std::size_t>(s.unit - 1)] = {s.present, s.name};
        const auto published = tracker.update(units);
        EXPECT_EQ(published.size(), s.published) << "unit " << s.unit << " " << s.name;
        for (const auto& m : published)
            EXPECT_NE(m.topic.find("/u" + std::to_string(s.unit) + "_"), std::string::npos);
        EXPECT_EQ(tracker.everything().size(), s.everything) << "unit " << s.unit;
    }
}

TEST(Prometheus, Exposition) {
    lw::prometheus::Sample s;
    s.site = "Booth \"7\"";
    for (int n = 1; n <= 16; ++n) s.board.units[static_cast<std::size_t>(n - 1)].unit = n;
    auto& running = s.board.units[0];
    running.name = "SCREEN 1";
    running.state = lw::UnitState::Running;
    running.showStarted = lw::ZonedTime{{2026, 12, 9, 23, 10, 0, 500}, 60};
    auto& failed = s.board.units[1];
    failed.name = "BACK\\SLASH \xC9";
    failed.state = lw::UnitState::Failed;
    failed.interlock = true;
    s.board.bus = {true, false, lw::PortState::Open, {}};
    lw::prometheus::RecordCounter records;
    for (auto k : {lw::ReportKind::Failed, lw::ReportKind::FailedInterlock, lw::ReportKind::Started,
                   lw::ReportKind::QuickSave})
        records.add(k);
    s.records = records.counts();
    s.logWriteFailures = 2;
    s.mqtt = lw::prometheus::MqttSample{true, 12};
    s.httpClients = 3;
    s.process = lw::prometheus::ProcessSample{1.25, 8388608, 268435456, 1765320000, 14, 1024};
    expectGolden("metrics.txt", lw::prometheus::exposition(s));

    // Without a broker and before /proc was read, those families are left out.
    s.mqtt.reset();
    s.process.reset();
    const std::string bare = lw::prometheus::exposition(s);
    EXPECT_EQ(bare.find("mqtt"), std::string::npos);
    EXPECT_EQ(bare.find("process_"), std::string::npos);
}
