#include "app/MainWindow.h"

#include "drawing/window/DrawingWindow.h"
#include "model/DocumentController.h"

namespace qor::app {

CommandHandler MainWindow::drawingCommand(const QString& id)
{
    if (id == QStringLiteral("drawing"))
        return [this] { openDrawing(); };
    return {};
}

DrawingWindow* MainWindow::openDrawing()
{
    // In sketch mode the model is rolled back to the sketch; the drawing shows the whole part.
    finishPendingEdits();
    if (controller->document->current.bodies.get().empty()) {
        showToast(QStringLiteral("Es gibt noch keine Körper für eine Zeichnung"), true);
        return nullptr;
    }
    auto* window = new DrawingWindow(controller, 0, this);
    window->setWindowFlag(Qt::Window);
    // The window edits the document it was opened on; once "new", "open" or an example
    // replaces that document, it closes instead of editing the new one.
    const qor::model::Document* opened = controller->document.get();
    connect(controller, &DocumentController::structureChanged, window, [this, window, opened] {
        if (controller->document.get() != opened)
            window->close();
    });
    drawingWindows.removeAll(nullptr);
    drawingWindows.append(window);
    window->show();
    return window;
}

} // namespace qor::app
