#include "app/MainWindow.h"

#include "io/FileAccess.h"
#include "model/DocumentController.h"
#include "ui/Settings.h"
#include "view/Viewer.h"

#include <QApplication>
#include <QComboBox>
#include <QDir>
#include <QFileDialog>
#include <QFileInfo>
#include <QSettings>

namespace qor::app {

void MainWindow::saveImage(QWidget* dialog, const QComboBox& sizes)
{
    QSettings settings;
    const QString folder = settings.value(settings::lastDir, QDir::homePath()).toString();
    const QString proposed = QDir(folder).filePath(controller->displayName() + ".png");
    const QString path
        = QFileDialog::getSaveFileName(dialog, QStringLiteral("Bild speichern"), proposed,
                                       QStringLiteral("PNG (*.png);;JPEG (*.jpg)"));
    if (path.isEmpty())
        return;
    settings.setValue(settings::lastDir, QFileInfo(path).absolutePath());
    if (const QString refused = qor::io::unreplaceableFileMessage(path); !refused.isEmpty()) {
        showToast(refused, true);
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
