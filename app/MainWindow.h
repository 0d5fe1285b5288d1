#pragma once

#include "app/CommandTable.h"

#include <QImage>
#include <QMainWindow>
#include <QMap>
#include <QString>
#include <QStringList>

class QAction;
class QComboBox;
class QFrame;
class QLabel;
class QMenu;
class QTimer;
class QToolButton;

namespace qor::app {

class Browser;
class DocumentController;
class Ribbon;
class Scene;
class Timeline;
class Viewer;

// The one top-level window of the interactive program: title bar, ribbon, model browser, 3D
// view with its floating overlay, timeline and status line. Its members are public because the
// window's commands, the start-up handler and the tests read them; the document changes only
// through `controller`.
class MainWindow : public QMainWindow {
    Q_OBJECT

public:
    explicit MainWindow(QWidget* parent = nullptr);
    ~MainWindow() override;

    DocumentController* controller = nullptr;
    Viewer* viewer = nullptr;
    Scene* scene = nullptr;
    Ribbon* ribbon = nullptr;
    Browser* browser = nullptr;
    Timeline* timeline = nullptr;
    // Holds the viewer and is the parent of every widget floating over the view.
    QWidget* viewport = nullptr;

    QFrame* floatingBar = nullptr;
    QToolButton* orbitButton = nullptr;
    QFrame* sketchHud = nullptr;
    QLabel* hudLabel = nullptr;
    QFrame* toast = nullptr;
    QTimer* toastTimer = nullptr; // created with the first toast

    QLabel* docTitleLabel = nullptr;
    QLabel* statusLabel = nullptr;
    QLabel* statusRight = nullptr;
    QLabel* unitBadge = nullptr;

    QMap<QString, QAction*> actions;
    // Ribbon pages, filled by buildRibbon; -1 until then.
    int solidPage = -1;
    int sketchPage = -1;
    int checkPage = -1;
    int outputPage = -1;
    int assemblyPage = -1;

    bool sectionOn = false;
    QStringList recent; // absolute paths, newest first

    void loadSettings();
    void saveWindowGeometry();
    void addRecentFile(const QString& path);
    // Replaces the document by the example part "bracket", "flange" or "housing".
    void createExample(const QString& kind);

    // The render dialog's "save image" button: asks for a PNG or JPEG file and writes the view
    // at the size chosen in `sizes` (item data QSize; an invalid size is the on-screen view).
    void saveImage(QWidget* dialog, const QComboBox& sizes);

    void layoutOverlay();
    void setSketchRibbon(bool sketchMode);
    void setStatusText(const QString& text);
    void showToast(const QString& text, bool error);
    // Lets pending layout and painting run, then grabs the whole widget.
    QImage grabWindowImage(QWidget* widget);

    void updateTitle();
    void refreshStatus();
    void refreshAll();

    // Documents, import and export (MainWindowFiles.cpp).
    QMenu* recentMenu = nullptr;
    CommandHandler fileCommand(const QString& id);
    // Finishes what the user is still editing before a command commits or writes the
    // document: accepts an open feature panel.
    void finishPendingEdits();
    // The save question before the document is replaced or the window closes; true when the
    // caller may go on.
    bool askSave();
    void openWithDialog();
    // Opens a document by its suffix, or imports a foreign file into a fresh document; a
    // failure is reported in a warning box and keeps the open document.
    bool openFile(const QString& path);
    bool save();
    bool saveAs();
    // An empty path asks for the file.
    void importFile(const QString& path);
    void exportBodies();
    void rebuildRecentMenu();

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    void closeEvent(QCloseEvent* event) override;
    void dragEnterEvent(QDragEnterEvent* event) override;
    void dropEvent(QDropEvent* event) override;

private:
    void buildCentral();
    QWidget* buildTitleBar();
    QFrame* buildViewOverlay(QWidget* host);
    void buildSketchHud(QWidget* host);
    void buildToast(QWidget* host);
    void buildActions();
    void buildRibbon();
    void buildFileMenu();

    void onDocumentChanged();
    void onStructureChanged();
    void onViewerInitialized();
};

} // namespace qor::app
