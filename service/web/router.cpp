#include "service/web/router.h"

#include "core/textutil.h"

namespace lw::service::web {

Answer route(const Request& request, const AccessRule& rule, const BoardSource& source) {
    if (auto refused = gate(request, rule)) return *refused;
    const std::string& path = request.path;
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
