// The body of an operator's action as the hub reads it, acted on a booth
// with open alarms, and the same bytes as a retained alarm document from the
// broker. An action is refused with a reason or acted on with a status the
// page knows; whatever happened, every document the hub would publish reads
// back into a fresh hub as the very same document.
//
// Input: one byte picks the alarm a document is for (1 to 16, bus, site),
// then the bytes.
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "fuzz/fuzzcheck.h"
#include "hub/alarms.h"

using namespace lw::hub;

namespace {

void readsBack(const AlarmBook& book, const std::string& site) {
    for (const char* which : {"3", "bus", "site"}) {
        const std::string doc = book.documentJson(site, which);
        AlarmBook fresh;
        std::string why;
        LW_FUZZ_CHECK(fresh.takeRetained(site, which, doc, &why));
        LW_FUZZ_CHECK(fresh.documentJson(site, which) == doc);
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size < 1) return 0;
    const std::string_view bytes(reinterpret_cast<const char*>(data + 1), size - 1);
    static const char* const kWhich[] = {"1", "2", "3", "4", "5", "6", "7", "8", "9", "10",
                                         "11", "12", "13", "14", "15", "16", "bus", "site"};
    const std::string which = kWhich[data[0] % 18];

    Site site;
    site.name = "b1";
    site.live = Site::Live::Online;
    lw::UnitDoc failed;
    failed.unit = 3;
    failed.name = "Three";
    failed.state = "failed";
    failed.cause = "presence";
    site.units[2] = failed;
    AlarmBook book;
    const HubTime now = hubTimeAt(1'765'000'000'000, 3600);
    book.evaluate(site, now);

    std::string why;
    if (const auto action = readAlarmAction(bytes, &why)) {
        LW_FUZZ_CHECK(!action->site.empty() && action->site.size() <= lw::kMaxSiteName);
        LW_FUZZ_CHECK(action->reason.size() <= kMaxReason && action->minutes >= 0 &&
                      action->minutes <= kMaxOutOfServiceMinutes);
        const auto o = book.act(*action, "alice", now);
        LW_FUZZ_CHECK(o.status == 200 || o.status == 404 || o.status == 409);
        LW_FUZZ_CHECK((o.status == 200) == !o.changes.empty());
        if (action->site == "b1" && action->kind != AlarmAction::Kind::ForgetSite) readsBack(book, "b1");
    } else {
        LW_FUZZ_CHECK(!why.empty());
    }

    // The bytes as what another hub left retained on the broker.
    AlarmBook taken;
    if (taken.takeRetained("b1", which, bytes, &why) && !bytes.empty()) {
        const Alarm* a = taken.find("b1", which);
        if (a) readsBack(taken, "b1");
    }
    return 0;
}
