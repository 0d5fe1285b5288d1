#pragma once

#include <QNetworkReply>
#include <QObject>
#include <QString>
#include <QUrl>
#include <QVersionNumber>

class QWidget;

namespace qor::app {

// What the update manifest announces for this program.
struct UpdateManifest {
    bool found = false; // a "QorCAD" entry with a parsable "version"
    QString versionText;
    QVersionNumber version;
    QString key;
    QString debUrl; // "url" of the last file whose name ends in ".deb"; may be empty
};

// Reads the manifest's first program entry named exactly "QorCAD". Bad JSON, no such entry or
// a "version" that does not parse leave found false.
UpdateManifest parseUpdateManifest(const QByteArray& body);

// A download address that may go to the browser: https only, else empty (a plain http
// address would let anyone on the way swap the package).
QUrl downloadAddress(const QString& text);

// UnusableDownload: a newer build is announced, but its package address is not https or no
// address at all.
enum class UpdateStatus { Failed, NoInformation, UpToDate, Available, UnusableDownload };

struct UpdateResult {
    UpdateStatus status = UpdateStatus::Failed;
    QString message; // German toast text; empty when an update is available
    QString detail; // the toolkit's own text of a failure, for a tooltip or the log
    QString version; // the announced version when available or its download unusable
    QUrl download; // empty when there is no usable address
};

// The German text of a failed check by the kind of failure (no connection, certificate or
// TLS, timeout, server error); httpStatus is the reply's status code, 0 when there was none.
QString updateFailureText(QNetworkReply::NetworkError error, int httpStatus);

// Newer announced version, or the same version under a different non-empty build key, is an
// update. A package that cannot be fetched safely is no offer: an announced download address
// that is not https is reported as unusable, naming the version.
UpdateResult judgeUpdate(const UpdateManifest& manifest, const QString& installedVersion,
                         const QString& buildId);

// One asynchronous look at the update manifest with a network manager of its own, emitting
// finished once. The caller shows the toast or the offer.
class UpdateCheck : public QObject {
    Q_OBJECT

public:
    explicit UpdateCheck(QObject* parent = nullptr);
    ~UpdateCheck() override;

    // The manifest is small: a reply longer than maxBytes, or one that has not ended after
    // overallMs, is dropped and reported as giving no information; a server silent for
    // transferMs is a timeout. Before start.
    void setLimits(qint64 maxBytes, int overallMs, int transferMs = 10000);

    // GET with User-Agent "QorCAD/<version>" and a 10 s transfer timeout.
    void start(const QUrl& url);

signals:
    void finished(const qor::app::UpdateResult& result);

private:
    void onReadyRead(QNetworkReply* reply);
    // Ends a reply that is too long or too slow; it then counts as giving no information.
    void drop(QNetworkReply* reply);
    void onReply(QNetworkReply* reply);

    qint64 maxBytes_ = 1024 * 1024;
    int overallMs_ = 30000;
    int transferMs_ = 10000;
    QByteArray body_;
    bool dropped_ = false; // too long or too slow
};

// The offer box for an available update; opens the download address in the browser when the
// user chooses "Herunterladen" and there is one. Returns whether it opened one.
bool offerUpdate(QWidget* parent, const UpdateResult& result);

} // namespace qor::app
