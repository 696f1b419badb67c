#include "service/web/router.h"

#include "core/textutil.h"

namespace lw::service::web {

namespace {

// Prometheus' text exposition format 0.0.4.
constexpr const char* kMetrics = "text/plain; version=0.0.4; charset=utf-8";

}  // namespace

Answer route(const Request& request, const AccessRule& rule, const BoardSource& source) {
    // Without the board there is no WebSocket either.
    if (auto refused = gate(request, rule, source.boardServed() ? "/ws" : "")) return *refused;
    const std::string& path = request.path;
    if (path == "/metrics") {
        auto body = source.metrics();
        if (!body) return textAnswer(404, "Not found");
        Answer a = textAnswer(200, "");
        a.type = kMetrics;
        a.body = std::move(*body);
        return a;
    }
    if (!source.boardServed()) return textAnswer(404, "Not found");
    if (path == "/") return pageAnswer(source.page());
    if (path == "/api/board") return jsonAnswer(source.boardJson());
    if (path == "/api/records") {
        const std::string after = queryValue(request.query, "after");
        std::int64_t seq = 0;
        if (!after.empty() && (after.size() > 15 || !parseDecimal(after, seq) || seq < 0)) {
            return textAnswer(400, "after is a record number");
        }
        return jsonAnswer(source.recordsJson(static_cast<std::uint64_t>(seq), kMaxRecordsAnswered));
    }
    return textAnswer(404, "Not found");
}

}  // namespace lw::service::web
