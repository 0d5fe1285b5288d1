#include "app/UpdateCheck.h"

#include <QCoreApplication>
#include <QDesktopServices>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QMessageBox>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QNetworkRequest>
#include <QPushButton>
#include <QTimer>

namespace qor::app {

namespace {

QString lastDebUrl(const QJsonObject& files)
{
    QString url;
    for (auto it = files.begin(); it != files.end(); ++it) {
        const QJsonObject file = it.value().toObject();
        if (file.value(u"name").toString().endsWith(u".deb"))
            url = file.value(u"url").toString();
    }
    return url;
}

UpdateResult notice(UpdateStatus status, const QString& message)
{
    UpdateResult result;
    result.status = status;
    result.message = message;
    return result;
}

// Why an announced package is no offer: an address on the network that is not https could
// be swapped on the way; anything without a host is no download address at all.
UpdateResult unusableDownload(const UpdateManifest& manifest)
{
    const QUrl url(manifest.debUrl, QUrl::StrictMode);
    const bool network = url.isValid() && !url.host().isEmpty();
    UpdateResult result = notice(
        UpdateStatus::UnusableDownload,
        QStringLiteral("QorCAD %1 ist angekündigt, aber seine Download-Adresse ist %2")
            .arg(manifest.versionText, network ? QStringLiteral("nicht sicher (kein https)")
                                               : QStringLiteral("ungültig")));
    result.version = manifest.versionText;
    return result;
}

} // namespace

UpdateManifest parseUpdateManifest(const QByteArray& body)
{
    UpdateManifest manifest;
    const QJsonArray programs = QJsonDocument::fromJson(body).object().value(u"programs").toArray();
    for (const QJsonValue& value : programs) {
        const QJsonObject program = value.toObject();
        if (program.value(u"name").toString() != u"QorCAD")
            continue;
        manifest.versionText = program.value(u"version").toString();
        manifest.version = QVersionNumber::fromString(manifest.versionText);
        manifest.found = !manifest.version.isNull();
        manifest.key = program.value(u"key").toString();
        manifest.debUrl = lastDebUrl(program.value(u"files").toObject());
        break;
    }
    return manifest;
}

QUrl downloadAddress(const QString& text)
{
    const QUrl url(text, QUrl::StrictMode);
    if (!url.isValid() || url.host().isEmpty())
        return {};
    return url.scheme() == u"https" ? url : QUrl();
}

QString updateFailureText(QNetworkReply::NetworkError error, int httpStatus)
{
    using E = QNetworkReply::NetworkError;
    const QString prefix = QStringLiteral("Update-Prüfung fehlgeschlagen: ");
    switch (error) {
    case E::SslHandshakeFailedError:
        return prefix + QStringLiteral("keine sichere Verbindung (Zertifikat oder TLS)");
    case E::TimeoutError:
    case E::OperationCanceledError:
        return prefix + QStringLiteral("Der Update-Server antwortet nicht (Zeitüberschreitung)");
    case E::ConnectionRefusedError:
    case E::RemoteHostClosedError:
    case E::HostNotFoundError:
    case E::TemporaryNetworkFailureError:
    case E::NetworkSessionFailedError:
    case E::BackgroundRequestNotAllowedError:
    case E::UnknownNetworkError:
    case E::ProxyConnectionRefusedError:
    case E::ProxyConnectionClosedError:
    case E::ProxyNotFoundError:
    case E::ProxyTimeoutError:
    case E::ProxyAuthenticationRequiredError:
    case E::UnknownProxyError: return prefix + QStringLiteral("keine Verbindung zum Update-Server");
    default: break;
    }
    // Everything else is an answer the server gave but should not have.
    return httpStatus > 0
               ? prefix + QStringLiteral("Fehler des Update-Servers (HTTP %1)").arg(httpStatus)
               : prefix + QStringLiteral("Fehler des Update-Servers");
}

UpdateResult judgeUpdate(const UpdateManifest& manifest, const QString& installedVersion,
                         const QString& buildId)
{
    if (!manifest.found)
        return notice(UpdateStatus::NoInformation,
                      QStringLiteral("Keine Versionsinformationen gefunden"));
    const QVersionNumber installed = QVersionNumber::fromString(installedVersion);
    const bool newer = manifest.version > installed;
    const bool rebuilt = manifest.version == installed && !manifest.key.isEmpty()
                         && !buildId.isEmpty() && manifest.key != buildId;
    if (!newer && !rebuilt)
        return notice(UpdateStatus::UpToDate,
                      QStringLiteral("QorCAD ist aktuell (%1)").arg(installedVersion));
    UpdateResult offer = notice(UpdateStatus::Available, QString());
    offer.version = manifest.versionText;
    offer.download = downloadAddress(manifest.debUrl);
    if (!manifest.debUrl.isEmpty() && offer.download.isEmpty())
        return unusableDownload(manifest);
    return offer;
}

UpdateCheck::UpdateCheck(QObject* parent)
    : QObject(parent)
{
}

UpdateCheck::~UpdateCheck() = default;

void UpdateCheck::setLimits(qint64 maxBytes, int overallMs, int transferMs)
{
    maxBytes_ = maxBytes;
    overallMs_ = overallMs;
    transferMs_ = transferMs;
}

void UpdateCheck::start(const QUrl& url)
{
    body_.clear();
    dropped_ = false;
    auto* manager = new QNetworkAccessManager(this);
    QNetworkRequest request(url);
    request.setHeader(QNetworkRequest::UserAgentHeader,
                      QStringLiteral("QorCAD/") + QCoreApplication::applicationVersion());
    // The transfer timeout restarts with every byte; a server that trickles needs a
    // limit on the whole exchange as well.
    request.setTransferTimeout(transferMs_);
    QNetworkReply* reply = manager->get(request);
    // Qt stops reading the socket when its buffer is full, so an endless body never
    // piles up in memory before it is noticed.
    reply->setReadBufferSize(64 * 1024);
    connect(reply, &QNetworkReply::metaDataChanged, this, [this, reply] {
        const QVariant length = reply->header(QNetworkRequest::ContentLengthHeader);
        if (length.isValid() && length.toLongLong() > maxBytes_)
            drop(reply);
    });
    connect(reply, &QNetworkReply::readyRead, this, [this, reply] { onReadyRead(reply); });
    auto* overall = new QTimer(reply);
    overall->setSingleShot(true);
    connect(overall, &QTimer::timeout, this, [this, reply] { drop(reply); });
    overall->start(overallMs_);
    connect(reply, &QNetworkReply::finished, this, [this, reply, manager] {
        onReply(reply);
        manager->deleteLater();
    });
}

void UpdateCheck::onReadyRead(QNetworkReply* reply)
{
    if (dropped_)
        return;
    body_ += reply->read(maxBytes_ + 1 - body_.size());
    if (body_.size() > maxBytes_)
        drop(reply);
}

void UpdateCheck::drop(QNetworkReply* reply)
{
    dropped_ = true;
    reply->abort();
}

void UpdateCheck::onReply(QNetworkReply* reply)
{
    reply->deleteLater();
    if (!dropped_ && reply->error() == QNetworkReply::NoError)
        onReadyRead(reply);
    if (dropped_) {
        emit finished(notice(UpdateStatus::NoInformation,
                             QStringLiteral("Keine Versionsinformationen gefunden")));
        return;
    }
    if (reply->error() != QNetworkReply::NoError) {
        const int status = reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt();
        UpdateResult failed
            = notice(UpdateStatus::Failed, updateFailureText(reply->error(), status));
        failed.detail = reply->errorString();
        emit finished(failed);
        return;
    }
    emit finished(judgeUpdate(parseUpdateManifest(body_), QCoreApplication::applicationVersion(),
                              qApp->property("buildId").toString()));
}

bool offerUpdate(QWidget* parent, const UpdateResult& result)
{
    QMessageBox box(parent);
    box.setWindowTitle(QStringLiteral("Update verfügbar"));
    box.setText(QStringLiteral("QorCAD %1 ist verfügbar (installiert: %2).")
                    .arg(result.version, QCoreApplication::applicationVersion()));
    box.setInformativeText(QStringLiteral(
        "Das .deb-Paket herunterladen und mit der Softwareverwaltung oder „sudo apt install "
        "./QorCAD….deb“ installieren."));
    QPushButton* download = box.addButton(QStringLiteral("Herunterladen"), QMessageBox::AcceptRole);
    box.addButton(QStringLiteral("Später"), QMessageBox::RejectRole);
    box.exec();
    if (box.clickedButton() != download || result.download.isEmpty())
        return false;
    return QDesktopServices::openUrl(result.download);
}

} // namespace qor::app
