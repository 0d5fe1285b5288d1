#include "ui/FileToWrite.h"

#include "io/FileAccess.h"

#include <QAbstractButton>
#include <QFileDialog>
#include <QFileInfo>
#include <QMessageBox>

namespace qor::app {

namespace {

bool replacingConfirmed(QWidget* parent, const QString& path)
{
    QMessageBox question(QMessageBox::Question, QStringLiteral("QorCAD"),
                         QStringLiteral("Die Datei „%1“ existiert bereits.\nSoll sie "
                                        "überschrieben werden?")
                             .arg(QFileInfo(path).fileName()),
                         QMessageBox::Yes | QMessageBox::No, parent);
    question.button(QMessageBox::Yes)->setText(QStringLiteral("Überschreiben"));
    question.button(QMessageBox::No)->setText(QStringLiteral("Abbrechen"));
    question.setDefaultButton(QMessageBox::No);
    return question.exec() == QMessageBox::Yes;
}

} // namespace

FileToWrite chooseFileToWrite(QWidget* parent, const QString& proposed, const SaveDialog& dialog,
                              const std::function<QString(const QString&)>& complete)
{
    QString start = proposed;
    for (;;) {
        const QString chosen = dialog(start);
        if (chosen.isEmpty())
            return {};
        const QString path = complete(chosen);
        if (QString refusal = io::unreplaceableFileMessage(path); !refusal.isEmpty())
            return {path, refusal};
        // A link that leads nowhere is replaced like a file.
        const QFileInfo there(path);
        if ((!there.exists() && !there.isSymLink()) || replacingConfirmed(parent, path))
            return {path, {}};
        start = path;
    }
}

FileToWrite chooseFileToWrite(QWidget* parent, const QString& caption, const QString& proposed,
                              const QString& filter, QString* selectedFilter,
                              const std::function<QString(const QString&)>& complete)
{
    return chooseFileToWrite(
        parent, proposed,
        [&](const QString& start) {
            return QFileDialog::getSaveFileName(parent, caption, start, filter, selectedFilter,
                                                QFileDialog::DontConfirmOverwrite);
        },
        complete);
}

} // namespace qor::app
