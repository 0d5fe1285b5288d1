#include "app/UnattendedDialogs.h"

#include <QApplication>
#include <QFile>
#include <QLabel>
#include <QMessageBox>
#include <QProgressDialog>
#include <QTemporaryDir>
#include <QTimer>
#include <QVBoxLayout>
#include <gtest/gtest.h>

#include <cstdio>
#include <memory>

#include <fcntl.h>
#include <unistd.h>

namespace {

// Standard error of this process while it lives, kept in a file.
class CapturedErrors {
public:
    CapturedErrors()
        : path_(dir_.filePath(QStringLiteral("stderr")))
    {
        std::fflush(stderr);
        saved_ = ::dup(STDERR_FILENO);
        const int file = ::open(QFile::encodeName(path_).constData(), O_WRONLY | O_CREAT, 0600);
        ::dup2(file, STDERR_FILENO);
        ::close(file);
    }
    ~CapturedErrors() { restore(); }

    QString text()
    {
        restore();
        QFile file(path_);
        return file.open(QIODevice::ReadOnly) ? QString::fromLocal8Bit(file.readAll()) : QString();
    }

private:
    void restore()
    {
        if (saved_ < 0)
            return;
        std::fflush(stderr);
        ::dup2(saved_, STDERR_FILENO);
        ::close(saved_);
        saved_ = -1;
    }

    QTemporaryDir dir_;
    QString path_;
    int saved_ = -1;
};

} // namespace

TEST(UnattendedDialogs, DialogTextIsOneLineOfWhatTheDialogSays)
{
    QMessageBox box(QMessageBox::Warning, QStringLiteral("QorCAD"),
                    QStringLiteral("Datei konnte nicht geöffnet werden:\nfehlt.qcpart"));
    box.setInformativeText(QStringLiteral("<b>Grund:</b> keine Datei"));
    EXPECT_EQ(
        qor::app::dialogText(box),
        QStringLiteral("Datei konnte nicht geöffnet werden: fehlt.qcpart – Grund: keine Datei"));

    QDialog plain;
    auto* layout = new QVBoxLayout(&plain);
    for (const char* text : {"kisten.step", "", "Fehler beim Lesen:\n  Zeile 3"})
        layout->addWidget(new QLabel(QString::fromUtf8(text)));
    EXPECT_EQ(qor::app::dialogText(plain),
              QStringLiteral("kisten.step – Fehler beim Lesen: Zeile 3"));
}

// A modal dialog returns from exec at once and leaves its text on standard error; progress
// dialogs and dialogs that wait for nobody stay shown. Deleting the refusal ends it.
TEST(UnattendedDialogs, ModalDialogsAreRefusedAndSaid)
{
    std::unique_ptr<QObject> refusal(qor::app::refuseDialogs());
    CapturedErrors errors;
    // A box that was not refused would wait for ever; this guard closes it.
    bool waited = false;
    QTimer guard;
    QObject::connect(&guard, &QTimer::timeout, [&waited] {
        waited = true;
        if (QWidget* modal = QApplication::activeModalWidget())
            modal->close();
    });
    guard.start(20000);
    const QMessageBox::StandardButton answer
        = QMessageBox::warning(nullptr, QStringLiteral("QorCAD"), QStringLiteral("Erste Meldung"));
    QMessageBox question(QMessageBox::Question, QStringLiteral("QorCAD"),
                         QStringLiteral("Änderungen speichern?"),
                         QMessageBox::Save | QMessageBox::Cancel);
    const int asked = question.exec();
    EXPECT_FALSE(waited);
    EXPECT_NE(answer, QMessageBox::Ok);
    EXPECT_NE(asked, QMessageBox::Save);

    QProgressDialog progress(QStringLiteral("Datei wird gelesen …"), QString(), 0, 100);
    progress.setWindowModality(Qt::ApplicationModal);
    progress.show();
    QDialog free;
    free.show();
    QApplication::processEvents();
    EXPECT_TRUE(progress.isVisible());
    EXPECT_TRUE(free.isVisible());
    // The toolkit's own notices may come between.
    const QStringList said = errors.text().split(u'\n').filter(QStringLiteral("QorCAD: "));
    EXPECT_EQ(said.join(u'|').toStdString(), "QorCAD: Erste Meldung|QorCAD: Änderungen speichern?");

    refusal.reset();
    QDialog later;
    later.setModal(true);
    later.show();
    QApplication::processEvents();
    EXPECT_TRUE(later.isVisible());
}
