#pragma once

#include <QSslConfiguration>
#include <string>

#include "core/result.h"

namespace lw::web {

// A listener's TLS from a PEM certificate chain and a PEM key (RSA or EC),
// TLS 1.2 or later, asking clients for no certificate. The paths only name
// the files in what is said.
Result<QSslConfiguration> serverTls(const std::string& certPem, const std::string& keyPem,
                                    const std::string& certPath, const std::string& keyPath);

}  // namespace lw::web
