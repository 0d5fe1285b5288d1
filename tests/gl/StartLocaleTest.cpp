#include "tests/common/ChildGuard.h"

#include <QApplication>
#include <QFile>
#include <QFileDialog>
#include <QFileSystemModel>
#include <QProcess>
#include <QRegularExpression>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>
#include <gtest/gtest.h>

#include <cstdio>

namespace {

// Run only as the child of the test below, after the program's own start-up: prints the
// date column of the file dialog for a file just written.
TEST(StartLocale, FileDialogDateColumnAsShown)
{
    if (!qEnvironmentVariableIsSet("QOR_TEST_START_AS_PROGRAM"))
        GTEST_SKIP() << "runs as a child process of FileDialogDatesAreGermanWithoutALocale";
    QTemporaryDir dir;
    QFile file(dir.filePath(QStringLiteral("teil.qcpart")));
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.write("{}");
    file.close();
    QFileDialog dialog(nullptr, QStringLiteral("Öffnen"), dir.path());
    dialog.setOption(QFileDialog::DontUseNativeDialog);
    dialog.setViewMode(QFileDialog::Detail);
    auto* model = dialog.findChild<QFileSystemModel*>();
    ASSERT_NE(model, nullptr);
    QSignalSpy loaded(model, &QFileSystemModel::directoryLoaded);
    dialog.show();
    ASSERT_TRUE(loaded.count() > 0 || loaded.wait(5000));
    const QModelIndex date = model->index(file.fileName(), 3);
    ASSERT_TRUE(date.isValid());
    std::printf("DATE:%s\n", model->data(date, Qt::DisplayRole).toString().toUtf8().constData());
    std::fflush(stdout);
}

// The date column reads German (07.12.26 …) when the system has no locale: LANG=C.UTF-8 and
// no LANG at all, each with no other locale variable set.
TEST(StartLocale, FileDialogDatesAreGermanWithoutALocale)
{
    struct Case {
        const char* name;
        const char* lang; // null: unset
    };
    for (const Case& c : {Case{"LANG=C.UTF-8", "C.UTF-8"}, Case{"LANG unset", nullptr}}) {
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        for (const char* name : {"LANG", "LC_ALL", "LC_TIME", "LANGUAGE"})
            environment.remove(QString::fromLatin1(name));
        if (c.lang != nullptr)
            environment.insert(QStringLiteral("LANG"), QString::fromLatin1(c.lang));
        environment.insert(QStringLiteral("QOR_TEST_START_AS_PROGRAM"), QStringLiteral("1"));
        QProcess child;
        child.setProcessEnvironment(environment);
        child.start(QCoreApplication::applicationFilePath(),
                    {QStringLiteral("--gtest_filter=StartLocale.FileDialogDateColumnAsShown")});
        ASSERT_TRUE(child.waitForFinished(qor::test::childGuardMs)) << c.name;
        const QString out = QString::fromUtf8(child.readAllStandardOutput());
        ASSERT_EQ(child.exitCode(), 0) << c.name << "\n" << out.toStdString();
        const QRegularExpressionMatch date
            = QRegularExpression(QStringLiteral("DATE:(.*)")).match(out);
        ASSERT_TRUE(date.hasMatch()) << c.name << "\n" << out.toStdString();
        EXPECT_TRUE(QRegularExpression(QStringLiteral("^\\d\\d\\.\\d\\d\\.\\d\\d \\d\\d:\\d\\d$"))
                        .match(date.captured(1).trimmed())
                        .hasMatch())
            << c.name << ": " << date.captured(1).toStdString();
    }
}

// The toolkit's own lines of --help ("Usage:", "Displays help …") are German as well.
TEST(StartLocale, HelpIsGermanThroughout)
{
    for (const char* lang : {"C.UTF-8", "de_DE.UTF-8"}) {
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.insert(QStringLiteral("LANG"), QString::fromLatin1(lang));
        environment.remove(QStringLiteral("LC_ALL"));
        QProcess program;
        program.setProcessEnvironment(environment);
        program.start(QStringLiteral(QOR_TEST_OUTPUT "/qorcad"), {QStringLiteral("--help")});
        ASSERT_TRUE(program.waitForFinished(qor::test::childGuardMs));
        EXPECT_EQ(program.exitCode(), 0);
        const QString help = QString::fromUtf8(program.readAllStandardOutput());
        EXPECT_TRUE(help.contains(QStringLiteral("QorCAD – parametrisches 3D-CAD"))) << lang;
        EXPECT_TRUE(help.contains(QStringLiteral("Bildschirmfoto speichern und beenden"))) << lang;
        for (const char* german : {"Aufruf:", "Optionen:"})
            EXPECT_TRUE(help.contains(QString::fromUtf8(german))) << lang << ": " << german;
        for (const char* english : {"Usage:", "Displays help", "Displays version", "Options:"})
            EXPECT_FALSE(help.contains(QString::fromLatin1(english)))
                << lang << ": " << english << "\n"
                << help.toStdString();
    }
}

} // namespace
