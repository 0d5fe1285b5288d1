#pragma once

#include "drawing/Dimensions.h"
#include "drawing/DrawingSheet.h"
#include "drawing/Projection.h"

#include <QMainWindow>
#include <QString>

#include <functional>

class QComboBox;
class QToolButton;

namespace qor::model {
class Document;
}

namespace qor::app {

class DocumentController;
class HintLabel;
class SheetCanvas;

// The top-level window in which one drawing sheet of the open document is edited: a ribbon
// row with format, scale, tools and sheet commands, a hint, and the sheet canvas. Every edit
// ends in `commit`, one undo step of the controller; so does a new sheet's first
// arrangement when the window opens. It does not listen to the controller:
// the main window closes it when it replaces the document. Members are public because the
// canvas and the tests read and set them.
class DrawingWindow : public QMainWindow {
    Q_OBJECT

public:
    // Asks for the export path; returns it (empty = cancelled) and sets the chosen filter.
    // It asks nothing about replacing a file: the window asks that once it knows the file
    // may be replaced at all.
    using ExportPathChooser = std::function<QString(QWidget* parent, const QString& suggested,
                                                    QString* selectedFilter)>;

    DrawingWindow(DocumentController* controller, int sheetIndex, QWidget* parent = nullptr);
    ~DrawingWindow() override;

    int selectedDim = 0; // 0 = none
    int selectedView = 0; // 0 = none
    int tool = 0; // 0 select, 1 dimension
    DimensionPicks picks; // what the dimension tool has picked so far

    DocumentController* controller = nullptr;
    int sheetIndex = 0;
    ProjectionCache projections;
    SheetCanvas* canvas = nullptr;
    QComboBox* formatCombo = nullptr;
    QComboBox* scaleCombo = nullptr;
    HintLabel* hintLabel = nullptr;
    ExportPathChooser chooseExportPath; // the save dialog unless a test replaces it

    // The sheet at sheetIndex; the document's list grows with default sheets to reach it.
    Drawing& sheet();
    const qor::model::Document& document() const;

    // Ends an edit: title defaults, then one undo step, then the scale combo and a repaint.
    void commit(const QString& label);
    void setTool(int newTool);
    // Standard views on the sheet; removes every dimension. Does not commit.
    void arrangeViews();
    // Overall sizes and diameters replace every dimension. Does not commit.
    void autoDimension();
    // The picked points or circle and the placing click at sheet (x, y) make one dimension.
    void addDimension(double x, double y);
    void toggleHiddenLines();
    void toggleSection();
    void exportDrawing();

private:
    void buildUi();
    QToolButton* addButton(QWidget* row, const QString& text, const QString& icon,
                           const QString& tip, bool checkable, const std::function<void()>& run);
    void fillTitleBlockDefaults();
    void showSheetScale();
    void onFormatChosen();
    void onScaleChosen();
};

} // namespace qor::app
