#include "ui/theme/Theme.h"
#include "panels/dialogs/AboutDialog.h"
#include "panels/dialogs/ImportReportDialog.h"

#include "ShellDocument.h"

#include <QBuffer>
#include <QCoreApplication>
#include <QImage>
#include <QLabel>
#include <QPainter>

#include <Standard_Version.hxx>

#include <gtest/gtest.h>

namespace {

QByteArray pngPreview()
{
    QImage image(400, 300, QImage::Format_RGB32);
    image.fill(QColor(0x30, 0x60, 0x90));
    QPainter(&image).fillRect(100, 80, 200, 140, Qt::white);
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    image.save(&buffer, "PNG");
    return bytes;
}

QLabel* labelNamed(const QWidget& dialog, const char* name)
{
    return dialog.findChild<QLabel*>(QString::fromLatin1(name));
}

} // namespace

TEST(AboutDialog, NamesTheKernelInUseAndEscapesTheCompany)
{
    qor::app::Theme& theme = qor::app::Theme::instance();
    QCoreApplication::setApplicationVersion(QStringLiteral("1.2.0")); // as the program sets it
    const QString text = qor::app::AboutDialog::aboutText();
    EXPECT_TRUE(text.contains(QStringLiteral("Open CASCADE Technology " OCC_VERSION_COMPLETE)));
    EXPECT_TRUE(text.contains(QStringLiteral("Qt ") + QString::fromLatin1(qVersion())));
    EXPECT_FALSE(text.contains(QStringLiteral("Firmen-Edition")));
    EXPECT_TRUE(text.contains(QStringLiteral("Version 1.2.0 · Tarnwick Velmora")));

    theme.companyName = QStringLiteral("Müller <Bau> & Söhne");
    qor::app::AboutDialog dialog;
    theme.companyName.clear();
    const QLabel* about = nullptr;
    for (const QLabel* label : dialog.findChildren<QLabel*>()) {
        if (label->text().contains(QStringLiteral("Firmen-Edition")))
            about = label;
    }
    ASSERT_NE(about, nullptr);
    EXPECT_TRUE(about->text().contains(QStringLiteral("Müller &lt;Bau&gt; &amp; Söhne")));
    EXPECT_EQ(dialog.width(), 620);
    EXPECT_GE(dialog.height(), 300);
    dialog.show();
    EXPECT_GE(about->height(), about->heightForWidth(about->width())); // nothing cut off
    EXPECT_TRUE(qor::test::saveShot(dialog, QStringLiteral("about.png")));
}

TEST(ImportInfoDialog, TitlePreviewAndNotesShowOnlyWhatTheResultHolds)
{
    struct Case {
        const char* shot;
        QString format;
        QByteArray preview;
        QStringList notes;
        QString title;
    };
    const Case cases[] = {
        {"import-report.png",
         QStringLiteral("Solid Edge"),
         pngPreview(),
         {QStringLiteral("Die Datei enthält nur eine Vorschau."),
          QStringLiteral("Bitte als STEP exportieren.")},
         QStringLiteral("Solid Edge")},
        {"import-report-plain.png", {}, QByteArray("kein Bild"), {}, QStringLiteral("Import")},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.shot);
        qor::io::ImportResult result;
        result.error = QStringLiteral("Die Datei enthält keine lesbare Geometrie.");
        result.format = c.format;
        result.preview = c.preview;
        result.notes = c.notes;
        qor::app::ImportInfoDialog dialog(result, QStringLiteral("/tmp/teile/Welle.par"));
        EXPECT_EQ(dialog.windowTitle(), c.title);
        EXPECT_EQ(labelNamed(dialog, "PanelHeading")->text(), c.title); // the header
        EXPECT_EQ(labelNamed(dialog, "WarnText")->text(), result.error);
        EXPECT_EQ(labelNamed(dialog, "Hint") != nullptr, !c.notes.isEmpty());
        bool picture = false;
        for (const QLabel* label : dialog.findChildren<QLabel*>())
            picture = picture || (!label->pixmap().isNull() && label->pixmap().width() == 220);
        EXPECT_EQ(picture, !c.preview.startsWith("kein"));
        QStringList headings;
        for (const QLabel* label : dialog.findChildren<QLabel*>(QStringLiteral("PanelHeading")))
            headings << label->text();
        EXPECT_TRUE(headings.contains(QStringLiteral("Welle.par")));
        EXPECT_TRUE(qor::test::saveShot(dialog, QString::fromLatin1(c.shot)));
    }
}
