#include "app/StartupOptions.h"

#include <QApplication>
#include <QColorDialog>
#include <QDate>
#include <QFileDialog>
#include <QKeySequence>
#include <QLabel>
#include <QLocale>
#include <QPushButton>
#include <QTranslator>
#include <gtest/gtest.h>

namespace {

// The translator lives for one test: other tests in the same run expect the untranslated toolkit.
struct ToolkitTranslations {
    ToolkitTranslations()
        : translator(qor::app::installToolkitTranslations(*qApp))
    {
    }
    ~ToolkitTranslations()
    {
        QCoreApplication::removeTranslator(translator);
        delete translator;
    }
    QTranslator* translator;
};

QStringList visibleTexts(QWidget& dialog)
{
    QStringList texts;
    for (const QLabel* label : dialog.findChildren<QLabel*>())
        texts << label->text();
    for (const QPushButton* button : dialog.findChildren<QPushButton*>())
        texts << button->text();
    return texts;
}

} // namespace

TEST(ToolkitTranslation, ButtonsAndKeyNamesSpeakGerman)
{
    EXPECT_EQ(QKeySequence(QStringLiteral("Ctrl+N")).toString(QKeySequence::NativeText),
              QStringLiteral("Ctrl+N"));
    ToolkitTranslations german;
    ASSERT_NE(german.translator, nullptr);
    EXPECT_EQ(QCoreApplication::translate("QPlatformTheme", "Cancel"), QStringLiteral("Abbrechen"));
    EXPECT_EQ(QKeySequence(QStringLiteral("Ctrl+N")).toString(QKeySequence::NativeText),
              QStringLiteral("Strg+N"));
    EXPECT_EQ(QKeySequence(QStringLiteral("Shift+F")).toString(QKeySequence::NativeText),
              QStringLiteral("Umschalt+F"));
}

// The test program starts as the program does; the file dialog's date column reads German
// whether the machine has no locale or a German one.
TEST(ToolkitTranslation, DatesFollowGermanWithoutASystemLocale)
{
    // The locale that decides the dates, as the C library picks it.
    QByteArray time = qgetenv("LC_ALL");
    if (time.isEmpty())
        time = qEnvironmentVariableIsSet("LC_TIME") ? qgetenv("LC_TIME") : qgetenv("LANG");
    const bool noLocale = time.isEmpty() || time == "C" || time == "POSIX" || time.startsWith("C.");
    if (!noLocale && !time.startsWith("de_"))
        GTEST_SKIP() << "the user's own locale decides the dates: " << time.constData();
    EXPECT_EQ(QLocale::system().toString(QDate(2026, 12, 7), QLocale::ShortFormat),
              QStringLiteral("07.12.26"));
}

// The toolkit's own file and colour dialogs, rendered for people to look at: none of their
// labels or buttons keeps its English text.
TEST(ToolkitTranslation, StandardDialogsShowGermanTexts)
{
    ToolkitTranslations german;
    ASSERT_NE(german.translator, nullptr);
    QFileDialog files(nullptr, QStringLiteral("Öffnen"));
    files.setOption(QFileDialog::DontUseNativeDialog);
    QColorDialog colours;
    colours.setOption(QColorDialog::DontUseNativeDialog);
    const QStringList english = {QStringLiteral("Look in:"),       QStringLiteral("File &name:"),
                                 QStringLiteral("Files of type:"), QStringLiteral("Cancel"),
                                 QStringLiteral("&Open"),          QStringLiteral("&Basic colors"),
                                 QStringLiteral("&Custom colors"), QStringLiteral("Hu&e:")};
    const std::pair<QWidget*, QString> dialogs[]
        = {{&files, QStringLiteral("file-dialog.png")},
           {&colours, QStringLiteral("colour-dialog.png")}};
    for (const auto& [dialog, image] : dialogs) {
        dialog->resize(820, 520);
        dialog->show();
        QApplication::processEvents();
        const QStringList texts = visibleTexts(*dialog);
        EXPECT_GE(texts.size(), 3);
        for (const QString& text : texts)
            EXPECT_FALSE(english.contains(text)) << text.toStdString();
        EXPECT_TRUE(texts.contains(QStringLiteral("Abbrechen")));
        dialog->grab().save(QStringLiteral(QOR_TEST_OUTPUT "/") + image);
        dialog->hide();
    }
}
