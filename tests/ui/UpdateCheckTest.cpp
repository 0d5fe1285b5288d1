#include "app/UpdateCheck.h"
#include "tests/common/CpuTime.h"
#include "tests/fixtures/UpdateServer.h"

#include <QApplication>
#include <QDesktopServices>
#include <QMessageBox>
#include <QPushButton>
#include <QSignalSpy>
#include <QSslSocket>
#include <QTimer>

#include <gtest/gtest.h>

namespace {

using qor::test::BrowserStandIn;
using qor::test::ManifestServer;

QByteArray manifest(const char* version, const char* url, const char* key = "")
{
    return QStringLiteral(R"({"programs":[{"name":"Anderes","version":"9.9"},
        {"name":"QorCAD","version":"%1","key":"%3","files":{
        "src":{"name":"qorcad.tar.gz","url":"https://example.invalid/src.tar.gz"},
        "deb":{"name":"qorcad_amd64.deb","url":"%2"}}}]})")
        .arg(QLatin1String(version), QLatin1String(url), QLatin1String(key))
        .toUtf8();
}

TEST(UpdateCheck, AgainstALocalServer)
{
    QCoreApplication::setApplicationVersion(QStringLiteral("1.2.0"));
    using qor::app::UpdateStatus;
    struct Case {
        const char* what;
        QByteArray status;
        QByteArray body;
        QString buildId;
        UpdateStatus expected;
        QString message;
        QUrl download;
    };
    const QUrl deb(QStringLiteral("https://example.invalid/qorcad_1.10.0_amd64.deb"));
    const Case cases[] = {
        {"newer", "200 OK", manifest("1.10.0", deb.toEncoded().constData()), "",
         UpdateStatus::Available, "", deb},
        {"same",
         "200 OK",
         manifest("1.2.0", "https://x.invalid/a.deb"),
         "",
         UpdateStatus::UpToDate,
         "QorCAD ist aktuell (1.2.0)",
         {}},
        {"same, other build", "200 OK", manifest("1.2.0", "https://x.invalid/a.deb", "k2"), "k1",
         UpdateStatus::Available, "", QUrl(QStringLiteral("https://x.invalid/a.deb"))},
        // Plain http would let anyone on the way swap the package: an offer that cannot be
        // fetched safely is none, and the check says why.
        {"http address",
         "200 OK",
         manifest("2.0", "http://x.invalid/a.deb"),
         "",
         UpdateStatus::UnusableDownload,
         "QorCAD 2.0 ist angekündigt, aber seine Download-Adresse ist nicht sicher (kein https)",
         {}},
        {"ftp address",
         "200 OK",
         manifest("2.0", "ftp://x.invalid/a.deb"),
         "",
         UpdateStatus::UnusableDownload,
         "QorCAD 2.0 ist angekündigt, aber seine Download-Adresse ist nicht sicher (kein https)",
         {}},
        {"same build",
         "200 OK",
         manifest("1.2.0", "", "k1"),
         "k1",
         UpdateStatus::UpToDate,
         "QorCAD ist aktuell (1.2.0)",
         {}},
        {"bad JSON",
         "200 OK",
         "<html>kaputt",
         "",
         UpdateStatus::NoInformation,
         "Keine Versionsinformationen gefunden",
         {}},
        {"no version",
         "200 OK",
         R"({"programs":[{"name":"QorCAD","version":"neu"}]})",
         "",
         UpdateStatus::NoInformation,
         "Keine Versionsinformationen gefunden",
         {}},
        {"file address",
         "200 OK",
         manifest("2.0", "file:///etc/passwd"),
         "",
         UpdateStatus::UnusableDownload,
         "QorCAD 2.0 ist angekündigt, aber seine Download-Adresse ist ungültig",
         {}},
        {"script address",
         "200 OK",
         manifest("2.0", "javascript:alert(1)"),
         "",
         UpdateStatus::UnusableDownload,
         "QorCAD 2.0 ist angekündigt, aber seine Download-Adresse ist ungültig",
         {}},
        // An older announcement needs no address at all.
        {"older, http address",
         "200 OK",
         manifest("1.1", "http://x.invalid/a.deb"),
         "",
         UpdateStatus::UpToDate,
         "QorCAD ist aktuell (1.2.0)",
         {}},
        // Without any .deb there is still an offer; it just has nothing to open.
        {"no package",
         "200 OK",
         R"({"programs":[{"name":"QorCAD","version":"2.0","files":{}}]})",
         "",
         UpdateStatus::Available,
         "",
         {}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        qApp->setProperty("buildId", c.buildId);
        ManifestServer server(c.status, c.body);
        qor::app::UpdateCheck check;
        QSignalSpy spy(&check, &qor::app::UpdateCheck::finished);
        check.start(server.url());
        ASSERT_TRUE(spy.wait(5000));
        const auto result = spy.at(0).at(0).value<qor::app::UpdateResult>();
        EXPECT_EQ(result.status, c.expected);
        EXPECT_EQ(result.message, c.message);
        EXPECT_EQ(result.download, c.download);
        EXPECT_TRUE(server.request.contains("User-Agent: QorCAD/1.2.0\r\n"));
    }
    qApp->setProperty("buildId", QString());

    ManifestServer missing("404 Not Found", "");
    qor::app::UpdateCheck check;
    QSignalSpy spy(&check, &qor::app::UpdateCheck::finished);
    check.start(missing.url());
    ASSERT_TRUE(spy.wait(5000));
    const auto failed = spy.at(0).at(0).value<qor::app::UpdateResult>();
    EXPECT_EQ(failed.status, UpdateStatus::Failed);
    EXPECT_TRUE(failed.message.startsWith(QStringLiteral("Update-Prüfung fehlgeschlagen: ")));
}

// Each kind of failure has its German line; the toolkit's English text is kept apart as the
// detail, never in the message.
TEST(UpdateCheck, FailuresGiveOneGermanLinePerKind)
{
    using qor::test::MuteServer;
    const QString prefix = QStringLiteral("Update-Prüfung fehlgeschlagen: ");
    const QString noConnection = prefix + "keine Verbindung zum Update-Server";
    const QString tls = prefix + "keine sichere Verbindung (Zertifikat oder TLS)";
    const QString timeout = prefix + "Der Update-Server antwortet nicht (Zeitüberschreitung)";
    MuteServer silent;
    MuteServer plain(true);
    ManifestServer broken("500 Internal Server Error", "kaputt");
    ManifestServer missing("404 Not Found", "");
    const struct {
        const char* what;
        QUrl url;
        QString message;
        const char* detailHas; // a word of the toolkit's own text
    } cases[] = {
        {"refused connection", qor::test::closedPortUrl(), noConnection, "refused"},
        {"no such host", QUrl(QStringLiteral("http://update.invalid/latest.json")), noConnection,
         "not found"},
        {"TLS to a plain server", plain.url("https"), tls, "SSL"},
        {"silent server", silent.url(), timeout, "cancel"},
        {"server error", broken.url(), prefix + "Fehler des Update-Servers (HTTP 500)", "Internal"},
        {"missing manifest", missing.url(), prefix + "Fehler des Update-Servers (HTTP 404)",
         "Not Found"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        if (c.url.scheme() == u"https" && !QSslSocket::supportsSsl())
            continue; // no TLS back end on this machine
        qor::app::UpdateCheck check;
        check.setLimits(1024 * 1024, 20000, 700);
        QSignalSpy spy(&check, &qor::app::UpdateCheck::finished);
        check.start(c.url);
        ASSERT_TRUE(spy.wait(15000));
        const auto result = spy.at(0).at(0).value<qor::app::UpdateResult>();
        EXPECT_EQ(result.status, qor::app::UpdateStatus::Failed);
        EXPECT_EQ(result.message, c.message);
        EXPECT_TRUE(result.detail.contains(QLatin1String(c.detailHas), Qt::CaseInsensitive))
            << result.detail.toStdString();
        EXPECT_FALSE(result.message.contains(result.detail));
        EXPECT_FALSE(result.message.contains(u'\n'));
    }
}

TEST(UpdateCheck, FailureKindsByError)
{
    using E = QNetworkReply::NetworkError;
    const QString prefix = QStringLiteral("Update-Prüfung fehlgeschlagen: ");
    const struct {
        E error;
        int status;
        QString text;
    } cases[] = {
        {E::ConnectionRefusedError, 0, prefix + "keine Verbindung zum Update-Server"},
        {E::HostNotFoundError, 0, prefix + "keine Verbindung zum Update-Server"},
        {E::RemoteHostClosedError, 0, prefix + "keine Verbindung zum Update-Server"},
        {E::ProxyConnectionRefusedError, 0, prefix + "keine Verbindung zum Update-Server"},
        {E::SslHandshakeFailedError, 0, prefix + "keine sichere Verbindung (Zertifikat oder TLS)"},
        {E::TimeoutError, 0, prefix + "Der Update-Server antwortet nicht (Zeitüberschreitung)"},
        {E::OperationCanceledError, 0,
         prefix + "Der Update-Server antwortet nicht (Zeitüberschreitung)"},
        {E::InternalServerError, 503, prefix + "Fehler des Update-Servers (HTTP 503)"},
        {E::ContentAccessDenied, 403, prefix + "Fehler des Update-Servers (HTTP 403)"},
        {E::ProtocolFailure, 0, prefix + "Fehler des Update-Servers"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(qor::app::updateFailureText(c.error, c.status), c.text) << int(c.error);
}

// Replies that are too long or too slow for a manifest end the check with "no information"
// soon, without holding more than the limit.
TEST(UpdateCheck, LongOrSlowRepliesGiveNoInformation)
{
    using qor::test::HostileServer;
    const struct {
        const char* what;
        HostileServer::Reply reply;
    } cases[] = {
        {"endless body", HostileServer::Reply::Endless},
        {"4 GiB declared", HostileServer::Reply::FourGiB},
        {"one byte every 5 s", HostileServer::Reply::Trickle},
    };
    constexpr qint64 limit = 1024 * 1024;
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        HostileServer server(c.reply);
        qor::app::UpdateCheck check;
        check.setLimits(limit, 1500);
        QSignalSpy spy(&check, &qor::app::UpdateCheck::finished);
        const double before = qor::test::cpuSeconds();
        check.start(server.url());
        ASSERT_TRUE(spy.wait(30000));
        EXPECT_LT(qor::test::cpuSeconds() - before, 3.0);
        // The slow server's next byte comes after 5 s: the check gave up on its own limit
        // before it, however busy the machine.
        if (c.reply == HostileServer::Reply::Trickle)
            EXPECT_EQ(server.bytesSent, 1);
        const auto result = spy.at(0).at(0).value<qor::app::UpdateResult>();
        EXPECT_EQ(result.status, qor::app::UpdateStatus::NoInformation);
        EXPECT_EQ(result.message, QStringLiteral("Keine Versionsinformationen gefunden"));
        // The endless server got as far as the limit and the socket buffers let it.
        if (c.reply == HostileServer::Reply::Endless)
            EXPECT_GT(server.bytesSent, limit);
        EXPECT_LT(server.bytesSent, 16 * limit);
    }
}

TEST(UpdateCheck, OfferOpensOnlyAWebAddress)
{
    BrowserStandIn browser;
    for (const char* scheme : {"https", "http", "file"})
        QDesktopServices::setUrlHandler(QString::fromLatin1(scheme), &browser, "open");
    QCoreApplication::setApplicationVersion(QStringLiteral("1.2.0"));

    // Answers the offer box with the named button and keeps its text.
    QString shown;
    const auto answer = [&shown](const QString& button) {
        QTimer::singleShot(0, [&shown, button] {
            auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
            ASSERT_NE(box, nullptr);
            shown = box->text();
            for (QAbstractButton* b : box->buttons()) {
                if (b->text() == button)
                    b->click();
            }
        });
    };
    const QByteArray deb = "https://example.invalid/qorcad.deb";
    for (const auto& [body, button, opens] :
         {std::tuple{manifest("1.3.0", deb.constData()), "Herunterladen", true},
          std::tuple{manifest("1.3.0", deb.constData()), "Später", false}}) {
        browser.opened.clear();
        const qor::app::UpdateResult result
            = qor::app::judgeUpdate(qor::app::parseUpdateManifest(body), "1.2.0", {});
        answer(QString::fromUtf8(button));
        EXPECT_EQ(qor::app::offerUpdate(nullptr, result), opens);
        EXPECT_EQ(shown, QStringLiteral("QorCAD 1.3.0 ist verfügbar (installiert: 1.2.0)."));
        EXPECT_EQ(browser.opened,
                  opens ? QList<QUrl>{QUrl(QString::fromLatin1(deb))} : QList<QUrl>{});
    }
    // An address that is not https makes no offer to answer.
    for (const char* address : {"file:///etc/passwd", "http://example.invalid/qorcad.deb"}) {
        const qor::app::UpdateResult result = qor::app::judgeUpdate(
            qor::app::parseUpdateManifest(manifest("1.3.0", address)), "1.2.0", {});
        EXPECT_EQ(result.status, qor::app::UpdateStatus::UnusableDownload) << address;
        EXPECT_EQ(result.version, QStringLiteral("1.3.0"));
    }
    for (const char* scheme : {"https", "http", "file"})
        QDesktopServices::unsetUrlHandler(QString::fromLatin1(scheme));
}

} // namespace
