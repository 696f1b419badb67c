// What a broker hands the hub: the topic's kind from the first byte, the
// payload after it. Reading never crashes or runs away; what is accepted
// keeps the contract's rules; every string the JSON reader gives back is
// UTF-8 that quotes and reads back the same.
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <variant>

#include "core/jsonreader.h"
#include "core/payloadcheck.h"
#include "fuzz/fuzzcheck.h"

namespace {

void strings(const lw::JsonValue& v) {
    if (v.type == lw::JsonValue::Type::String) {
        const auto back = lw::readJson(lw::jsonQuote(v.text));
        LW_FUZZ_CHECK(back && back->type == lw::JsonValue::Type::String && back->text == v.text);
    }
    for (const auto& item : v.items) strings(item);
    for (const lw::JsonMember& m : v.members) {
        lw::JsonValue key;
        key.type = lw::JsonValue::Type::String;
        key.text = m.key;
        strings(key);
        strings(m.value);
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size < 1) return 0;
    using K = lw::SiteTopicKind;
    constexpr K kinds[] = {K::Online, K::Unit, K::Bus, K::Event, K::Record};
    const lw::SiteTopic topic{"site", kinds[data[0] % 5], 1 + (data[0] / 5) % 16, ""};
    const std::string_view payload(reinterpret_cast<const char*>(data + 1), size - 1);

    if (const auto v = lw::readJson(payload)) strings(*v);
    std::string why;
    const auto p = lw::readSitePayload(topic, payload, &why);
    if (!p) {
        LW_FUZZ_CHECK(!why.empty());
        return 0;
    }
    LW_FUZZ_CHECK(payload.size() <= lw::kMaxPayload);
    if (const auto* u = std::get_if<lw::UnitDoc>(&*p)) {
        LW_FUZZ_CHECK(topic.kind == K::Unit && u->unit == topic.unit);
        LW_FUZZ_CHECK((u->state == "failed") == !u->cause.empty());
        LW_FUZZ_CHECK(lw::isContractTime(u->since) && lw::isContractTime(u->at));
    } else if (const auto* e = std::get_if<lw::EventDoc>(&*p)) {
        LW_FUZZ_CHECK(topic.kind == K::Event && e->seq >= 1);
        LW_FUZZ_CHECK(e->unit >= 0 && e->unit <= 16);
    } else if (const auto* b = std::get_if<lw::BusDoc>(&*p)) {
        LW_FUZZ_CHECK(b->port == "open" || b->port == "lost" || b->port == "closed");
    } else if (std::holds_alternative<lw::OnlineDoc>(*p)) {
        LW_FUZZ_CHECK(payload == "1" || payload == "0");
    } else {
        LW_FUZZ_CHECK(topic.kind == K::Record && payload.size() <= lw::kMaxRecordText);
    }
    return 0;
}
