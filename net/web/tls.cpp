#include "net/web/tls.h"

#include <QSslCertificate>
#include <QSslKey>
#include <QSslSocket>

namespace lw::web {

Result<QSslConfiguration> serverTls(const std::string& certPem, const std::string& keyPem,
                                    const std::string& certPath, const std::string& keyPath) {
    using R = Result<QSslConfiguration>;
    if (!QSslSocket::supportsSsl()) return R::failure("HTTPS is not available: no TLS library");
    const QList<QSslCertificate> chain =
        QSslCertificate::fromData(QByteArray::fromStdString(certPem), QSsl::Pem);
    if (chain.isEmpty() || chain.first().isNull()) {
        return R::failure("the certificate file " + certPath + " holds no PEM certificate");
    }
    const QByteArray pem = QByteArray::fromStdString(keyPem);
    QSslKey k(pem, QSsl::Rsa);
    if (k.isNull()) k = QSslKey(pem, QSsl::Ec);
    if (k.isNull()) return R::failure("the key file " + keyPath + " holds no PEM key");
    QSslConfiguration c = QSslConfiguration::defaultConfiguration();
    c.setLocalCertificateChain(chain);
    c.setPrivateKey(k);
    c.setProtocol(QSsl::TlsV1_2OrLater);
    c.setPeerVerifyMode(QSslSocket::VerifyNone);  // clients bring no certificate
    return R::success(c);
}

}  // namespace lw::web
