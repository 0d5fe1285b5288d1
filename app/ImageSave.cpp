#include "app/MainWindow.h"

#include "model/DocumentController.h"
#include "ui/FileToWrite.h"
#include "ui/Settings.h"
#include "view/Viewer.h"

#include <QApplication>
#include <QComboBox>
#include <QDir>
#include <QFileInfo>

namespace qor::app {

void MainWindow::saveImage(QWidget* dialog, const QComboBox& sizes)
{
    const QString proposed
        = QDir(settings::lastDirOrHome()).filePath(controller->displayName() + ".png");
    const FileToWrite chosen = chooseFileToWrite(dialog, QStringLiteral("Bild speichern"), proposed,
                                                 QStringLiteral("PNG (*.png);;JPEG (*.jpg)"),
                                                 nullptr, [](const QString& name) { return name; });
    const QString& path = chosen.path;
    if (path.isEmpty())
        return;
    settings::rememberFolderOf(path);
    if (!chosen.refusal.isEmpty()) {
        showToast(chosen.refusal, true);
        return;
    }

    const QSize size = sizes.currentData().toSize();
    QApplication::setOverrideCursor(Qt::WaitCursor);
    // The entry without a size stands for the view as it is on screen.
    const QImage image = size.width() < 0 || size.height() < 0
                             ? viewer->grabFramebuffer()
                             : viewer->grabImage(size.width(), size.height());
    QApplication::restoreOverrideCursor();
    if (!image.isNull() && image.save(path)) {
        showToast(QStringLiteral("Gespeichert: %1 (%2 × %3)")
                      .arg(QFileInfo(path).fileName())
                      .arg(image.width())
                      .arg(image.height()),
                  false);
    } else {
        showToast(QStringLiteral("Bild konnte nicht gespeichert werden"), true);
    }
}

} // namespace qor::app
