#pragma once

#include <QObject>
#include <QString>
#include <QUrl>
#include <QVersionNumber>

class QNetworkReply;
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

enum class UpdateStatus { Failed, NoInformation, UpToDate, Available };

struct UpdateResult {
    UpdateStatus status = UpdateStatus::Failed;
    QString message; // German toast text; empty when an update is available
    QString version; // the announced version when available
    QUrl download; // empty when there is no usable address
};

// Newer announced version, or the same version under a different non-empty build key, is an
// update.
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
    // overallMs, is dropped and reported as giving no information. Before start.
    void setLimits(qint64 maxBytes, int overallMs);

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
    QByteArray body_;
    bool dropped_ = false; // too long or too slow
};

// The offer box for an available update; opens the download address in the browser when the
// user chooses "Herunterladen" and there is one. Returns whether it opened one.
bool offerUpdate(QWidget* parent, const UpdateResult& result);

} // namespace qor::app
