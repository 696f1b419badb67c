#include "net/web/operatorfile.h"

#include "platform/smallfile.h"

namespace lw::web {

Result<OperatorTokens> readOperatorTokens(const std::string& path) {
    const Result<std::string> text =
        readPrivateFile(path, "the operator-token file", kMaxOperatorFile);
    if (!text.ok) return Result<OperatorTokens>::failure(text.error);
    return OperatorTokens::parse(text.value, path);
}

}  // namespace lw::web
