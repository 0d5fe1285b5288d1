#pragma once

#include "app/CommandTable.h"
#include "io/Import.h"
#include "io/NameLinks.h"

#include <QImage>
#include <QJsonObject>
#include <QList>
#include <QMainWindow>
#include <QMap>
#include <QPointer>
#include <QString>
#include <QStringList>

#include <functional>
#include <memory>

class QAction;
class QComboBox;
class QFrame;
class QLabel;
class QMenu;
class QProgressDialog;
class QTimer;
class QToolButton;

namespace qor::app {

class Browser;
class CommandPanel;
class DrawingWindow;
class DocumentController;
struct PickInfo;
class MatePanel;
class MeasurePanel;
class Ribbon;
class Scene;
class SketchEditor;
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
    // The handler of a command of the table; every command has one.
    CommandHandler commandHandler(const CommandSpec& spec);
    // Ribbon pages, filled by buildRibbon; -1 until then.
    int solidPage = -1;
    int sketchPage = -1;
    int checkPage = -1;
    int outputPage = -1;
    int assemblyPage = -1;

    bool sectionOn = false;
    // Absolute paths, newest first; a real file whose path is not text is kept as a "file://"
    // address of its bytes (io::lastingPath).
    QStringList recent;
    // The links by which files whose names are not text are open (a file named on the
    // command line or in the recent list).
    qor::io::NameLinks nameLinks;

    void loadSettings();
    void saveWindowGeometry();
    void addRecentFile(const QString& path);
    // Replaces the document by the example part "bracket", "flange" or "housing".
    void createExample(const QString& kind);

    // The render dialog's "save image" button: asks for a PNG or JPEG file and writes the view
    // at the size chosen in `sizes` (item data QSize; an invalid size is the on-screen view).
    void saveImage(QWidget* dialog, const QComboBox& sizes);

    void layoutOverlay();
    // A panel that takes picks has opened over the view: a model that was wholly
    // in view but now lies partly under the panel is fitted into the free part. A model the
    // user has zoomed into stays as it is.
    void keepModelClearOfPanels();
    // The last such panel has closed: a model fitted clear of it fills the whole view again.
    void returnModelFromPanels();
    void setSketchRibbon(bool sketchMode);
    void setStatusText(const QString& text);
    void showToast(const QString& text, bool error);
    // A plain note that offers the action as a button and stays a while longer.
    void showToastOffering(const QString& text, QAction* action);
    // Shows the bodies a cancelled display left out, without touching the document; fits
    // the view to them when it showed none.
    void showRemainingBodies();
    // Lets pending layout and painting run, then grabs the whole widget.
    QImage grabWindowImage(QWidget* widget);

    void updateTitle();
    void refreshStatus();
    void refreshAll();

    // Features from the window: creation and editing through the feature panel, the routing
    // of picks, the context menus with their direct edits, the body clipboard.
    CommandPanel* commandPanel = nullptr;
    CommandHandler featureCommand(const QString& id);
    void createFeature(const QString& type, QJsonObject params);
    void editFeature(int featureId);
    void deleteFeature(int featureId);
    void renameBody(int bodyId);
    // Straight onto the sketch plane in sketch mode, else onto the first picked planar face.
    void lookAtSelection();
    void copyBodies();
    void pasteBodies();
    void showParameters();
    // A sketch is open, the feature panel edits a feature or a mate panel is open: the
    // direct edits of the menus do nothing then.
    bool editingBlocked() const;
    void onViewerSelection();
    // The status line names what the view holds selected.
    void showSelectionText();
    // A new pick mask drops the view's selection without the view reporting it: the status
    // line is told here.
    void setPickMask(int pickMask);
    void onTimelineSelected(int featureId);
    void onCommandPanelFinished();
    void onBrowserEdit(int kind, int id);
    void onBrowserOriginToggled(bool on);
    // Flashes the body in the view for a moment.
    void onBrowserBodySelected(int bodyId);
    // While a new sketch waits for its plane, an origin or work plane clicked in the browser
    // is taken: it may lie where the view shows a body in front of it.
    void onBrowserPlaneClicked(int kind, int id);
    // The menus are built anew for each request; the show functions run them.
    QMenu* timelineMenu(int featureId);
    QMenu* browserMenu(int kind, int id);
    QMenu* viewportMenu(const PickInfo& underMouse);
    void showTimelineMenu(int featureId, QPoint global);
    void showBrowserMenu(int kind, int id, QPoint global);
    void showViewportMenu(QPoint global);
    void rollTimelineTo(int count);
    void rollbackToFeature(int featureId);
    void toggleSuppress(int featureId);
    void renameFeature(int featureId);
    // key: a body id, or minus the id of a sketch, work plane or axis.
    void toggleVisible(int key);
    void onBrowserToggleVisible(int kind, int id);
    void toggleComponentVisible(int componentId);
    void toggleMateSuppressed(int mateId);
    void deleteMate(int mateId);
    void removeComponent(int componentId);
    // Asks the sketch fillet radius (a value or an expression), then starts the fillet tool.
    void askSketchFilletRadius();
    // Finishes an open sketch and accepts a feature being edited, so that a committing command
    // keeps them, as saving does.
    void finishPendingEdits();
    // Makes component loads of foreign files read with this window's progress dialog.
    void watchComponentReads();
    // Makes a scene build of many bodies show its progress in a dialog that can cancel it.
    void watchSceneBuilds();
    // The plane reference a new sketch gets from a pick: origin plane, work plane or planar face;
    // empty for anything else.
    QJsonObject sketchPlaneOf(const PickInfo& pick) const;
    QString facePlaneRefusal(const PickInfo& pick) const;
    // Starts sketch mode on the plane and marks the sketch on the timeline; a wait for a plane
    // ends with it.
    void sketchOn(const QJsonObject& planeReference);
    // The timeline marks the feature or sketch being edited, and drops the mark afterwards.
    void markEditedFeature();
    // Opens the component's file in a second program instance through `launchInstance`, which
    // starts the program detached; tests replace it to record the call.
    void openComponentInNewWindow(int componentId);
    std::function<void(const QString& path)> launchInstance;

    // Tool and assembly commands (MainWindowTools.cpp, MainWindowAssembly.cpp).
    QPointer<MatePanel> matePanel;
    QPointer<MeasurePanel> measurePanel;
    QToolButton* sectionButton = nullptr; // its check state follows sectionOn
    QToolButton* measureButton = nullptr;
    QToolButton* viewsButton = nullptr;

    CommandHandler toolCommand(const QString& id);
    CommandHandler assemblyCommand(const QString& id);
    void showSettings();
    void showRenderDialog();
    void showMassProperties();
    void showAppearance(int bodyId);
    void toggleMeasure();
    void toggleSection();
    void checkInterference();
    void checkForUpdates(bool interactive);
    void showViewsMenu(QMenu* menu);
    void saveCurrentView();
    void deleteView(const QString& name);
    void insertComponent(const QString& path);
    // Replaces the document by a new assembly with one fixed component per placed part of the
    // Solid Edge assembly; false, after a warning, when the file names no part.
    bool openSolidEdgeAssembly(const QString& path);
    void showMatePanel(const QString& type);
    void showBom();
    void showExplode();
    void toggleGround(int componentId);
    int selectedComponent() const;
    void moveComponent(int componentId);
    // Drawings: the open drawing windows, closed when the document is replaced.
    QList<QPointer<DrawingWindow>> drawingWindows;
    // A drawing window on sheet 0; null, after an error toast, when the model has no bodies.
    DrawingWindow* openDrawing();
    // Sketch mode: one sketch at a time is edited in `sketchEditor` (null outside sketch mode).
    std::unique_ptr<SketchEditor> sketchEditor;
    // Starts a sketch on the referenced plane, or plane picking when the reference is empty.
    void newSketch(const QJsonObject& planeReference);
    void enterSketch(int featureId);
    // Keeps the sketch as one undo step (true) or drops everything done in sketch mode.
    void finishSketch(bool apply);
    CommandHandler sketchCommand(const QString& id);
    void refreshSketchHud();
    // Documents, import and export (MainWindowFiles.cpp).
    QMenu* recentMenu = nullptr;
    CommandHandler fileCommand(const QString& id);
    // The save question before the document is replaced or the window closes; true when the
    // caller may go on.
    bool askSave();
    void openWithDialog();
    // Opens a document by its suffix, or imports a foreign file into a fresh document; a
    // failure is reported in a warning box and keeps the open document. False when the file
    // could not be opened or read.
    bool openFile(const QString& path);
    // openFile for a path given as bytes, which need not be valid UTF-8; shown names the
    // path in a warning when it cannot be reached.
    bool openFileBytes(const QByteArray& path, const QString& shown);
    // The path by which the window reaches the file the bytes name (a link when the name is
    // not UTF-8); empty after a warning naming shown when it cannot.
    QString reachFileBytes(const QByteArray& path, const QString& shown);
    bool save();
    bool saveAs();
    // An empty path asks for the file. True when the file's bodies were taken over.
    bool importFile(const QString& path);
    // Reads a foreign file with a progress dialog of that label that can cancel the read;
    // userCancelled (when given) tells whether the user did.
    qor::io::ImportResult readForeignFile(const QString& path, const QString& label,
                                          bool* userCancelled);
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
    void showNote(const QString& text, bool error, QAction* action);
    void buildActions();
    void buildRibbon();
    void buildFeatureWiring();
    CommandHandler drawingCommand(const QString& id);
    CommandHandler viewCommand(const QString& id);
    void buildFileMenu();
    QMenu* workPlaneMenu(int featureId);

    void onDocumentChanged();
    void onStructureChanged();
    void onViewerInitialized();
    // Runs one step of opening or showing the document. Running out of memory ends the step,
    // not the program: the window reports `text` and the step answers false.
    bool survivesOutOfMemory(const std::function<void()>& step, const QString& text);
    void reportOutOfMemory(const QString& text);

    // The first solid of a document is framed once its preview shows: a feature created
    // without bodies waits here until its panel shows a body or a preview.
    void fitFirstSolid();

    // Features from the window: the feature id the timeline marks for editing, 0 for none.
    int editMark_ = 0;
    bool firstSolidPending_ = false;
    bool turnToDepth_ = false; // the pending fit also turns from a main axis to the isometric
    bool fittedForPanel_ = false; // the view was fitted clear of an open panel
    // The dialog of an import while its bodies come into the document; a scene build
    // meanwhile shows its progress there instead of in a dialog of its own.
    QPointer<QProgressDialog> importProgress_;
};

} // namespace qor::app
