#include "drawing/window/DrawingWindow.h"

#include "drawing/ViewLayout.h"
#include "drawing/render/DrawingExport.h"
#include "drawing/window/HintLabel.h"
#include "drawing/window/SheetCanvas.h"
#include "model/DocumentController.h"
#include "ui/FileToWrite.h"
#include "ui/Settings.h"
#include "ui/theme/Theme.h"

#include <QComboBox>
#include <QDate>
#include <QDir>
#include <QFileDialog>
#include <QFileInfo>
#include <QGuiApplication>
#include <QHBoxLayout>
#include <QLabel>
#include <QMessageBox>
#include <QToolButton>
#include <QVBoxLayout>

#include <algorithm>

namespace qor::app {

namespace {

const QString selectHint = QStringLiteral(
    "Ansicht ziehen zum Verschieben · Maß anklicken und Entf zum Löschen · Mausrad zoomt");
const QString dimensionHint = QStringLiteral(
    "Bemaßen: Eckpunkt/Kreismitte anklicken oder Kreis für Durchmesser · Esc beendet");

QString askExportPath(QWidget* parent, const QString& suggested, QString* selectedFilter)
{
    return QFileDialog::getSaveFileName(parent, QStringLiteral("Zeichnung exportieren"), suggested,
                                        drawingExportFilters(), selectedFilter,
                                        QFileDialog::DontConfirmOverwrite);
}

} // namespace

DrawingWindow::DrawingWindow(DocumentController* documentController, int index, QWidget* parent)
    : QMainWindow(parent)
    , controller(documentController)
    , sheetIndex(index)
    , chooseExportPath(askExportPath)
{
    projections.onProjecting = [](bool working) {
        if (working)
            QGuiApplication::setOverrideCursor(Qt::WaitCursor);
        else
            QGuiApplication::restoreOverrideCursor();
    };
    setAttribute(Qt::WA_DeleteOnClose);
    setWindowTitle(QStringLiteral("Zeichnung – %1 – QorCAD").arg(controller->displayName()));
    setWindowIcon(Theme::instance().appIcon());
    const bool firstArrangement = sheet().views.empty();
    buildUi();
    fillTitleBlockDefaults();
    // A new sheet's arrangement is no edit of the user's, so it marks nothing modified; it
    // joins the current undo step, or undoing the first edit would go back to the document
    // without the sheet and the window would show a blank one.
    if (firstArrangement)
        controller->amendCurrentStep();
    resize(1400, 900);
}

DrawingWindow::~DrawingWindow() = default;

Drawing& DrawingWindow::sheet()
{
    std::vector<Drawing>& sheets = controller->document->drawings;
    if (sheets.size() <= std::size_t(sheetIndex))
        sheets.resize(std::size_t(sheetIndex) + 1);
    return sheets[std::size_t(sheetIndex)];
}

const qor::model::Document& DrawingWindow::document() const
{
    return *controller->document;
}

QToolButton* DrawingWindow::addButton(QWidget* row, const QString& text, const QString& icon,
                                      const QString& tip, bool checkable,
                                      const std::function<void()>& run)
{
    auto* button = new QToolButton(row);
    button->setObjectName(QStringLiteral("RibbonButton"));
    button->setIcon(Theme::instance().icon(icon));
    button->setIconSize(QSize(24, 24));
    button->setToolButtonStyle(Qt::ToolButtonTextUnderIcon);
    button->setText(text);
    button->setToolTip(tip);
    button->setCheckable(checkable);
    button->setMinimumWidth(std::max(button->fontMetrics().horizontalAdvance(text) + 16, 56));
    connect(button, &QToolButton::clicked, this, run);
    row->layout()->addWidget(button);
    return button;
}

void DrawingWindow::buildUi()
{
    auto* central = new QWidget(this);
    central->setObjectName(QStringLiteral("Central"));
    auto* column = new QVBoxLayout(central);
    column->setContentsMargins(0, 0, 0, 0);
    column->setSpacing(0);

    auto* ribbon = new QWidget(central);
    ribbon->setObjectName(QStringLiteral("Ribbon"));
    ribbon->setAttribute(Qt::WA_StyledBackground);
    auto* row = new QHBoxLayout(ribbon);
    row->setContentsMargins(10, 6, 10, 6);
    row->setSpacing(6);
    const auto label = [ribbon, row](const QString& text, const char* name) {
        auto* l = new QLabel(text, ribbon);
        l->setObjectName(QString::fromLatin1(name));
        row->addWidget(l);
    };
    label(QStringLiteral("QOR"), "Brand");
    label(QStringLiteral("/ZEICHNUNG"), "BrandAccent");
    row->addSpacing(16);

    label(QStringLiteral("Blatt"), "Hint");
    formatCombo = new QComboBox(ribbon);
    for (const char* format : {"A4", "A3", "A2", "A1", "A0"}) {
        const QString name = QString::fromLatin1(format);
        formatCombo->addItem(QStringLiteral("%1 quer").arg(name), name);
    }
    formatCombo->setCurrentIndex(std::max(formatCombo->findData(sheet().format), 0));
    connect(formatCombo, &QComboBox::currentIndexChanged, this, &DrawingWindow::onFormatChosen);
    row->addWidget(formatCombo);

    label(QStringLiteral("Maßstab"), "Hint");
    scaleCombo = new QComboBox(ribbon);
    for (double scale : {5.0, 2.0, 1.0, 0.5, 0.2, 0.1, 0.05, 0.02, 0.01})
        scaleCombo->addItem(scaleText(scale), scale);
    connect(scaleCombo, &QComboBox::activated, this, &DrawingWindow::onScaleChosen);
    row->addWidget(scaleCombo);
    row->addSpacing(10);

    addButton(ribbon, QStringLiteral("Ansichten"), QStringLiteral("view_iso"),
              QStringLiteral("Vorder-, Drauf-, Seitenansicht und Isometrie neu anordnen"), false,
              [this] {
                  sheet().scale = 0.0;
                  arrangeViews();
                  commit(QStringLiteral("Ansichten anordnen"));
              });
    addButton(ribbon, QStringLiteral("Auswählen"), QStringLiteral("move"),
              QStringLiteral("Ansichten verschieben, Maße wählen (Entf löscht)"), true,
              [this] { setTool(0); })
        ->setProperty("toolSelect", true);
    addButton(ribbon, QStringLiteral("Bemaßen"), QStringLiteral("dimension"),
              QStringLiteral("Zwei Punkte oder einen Kreis anklicken, dann Maß platzieren"), true,
              [this] { setTool(1); })
        ->setProperty("toolDim", true);
    addButton(ribbon, QStringLiteral("Auto-Maße"), QStringLiteral("parameters"),
              QStringLiteral("Außenmaße und Durchmesser automatisch eintragen"), false, [this] {
                  autoDimension();
                  commit(QStringLiteral("Automatisch bemaßen"));
              });
    addButton(ribbon, QStringLiteral("Verdeckt"), QStringLiteral("eye_off"),
              QStringLiteral("Verdeckte Kanten ein-/ausblenden"), false,
              [this] { toggleHiddenLines(); });
    addButton(ribbon, QStringLiteral("Schnitt"), QStringLiteral("section"),
              QStringLiteral("Gewählte Ansicht (sonst die Vorderansicht) als Schnitt A–A durch "
                             "die Mitte darstellen"),
              false, [this] { toggleSection(); });
    addButton(ribbon, QStringLiteral("Export"), QStringLiteral("export"),
              QStringLiteral("Als PDF, SVG, DXF oder PNG speichern"), false,
              [this] { exportDrawing(); });
    hintLabel = new HintLabel(ribbon);
    hintLabel->setObjectName(QStringLiteral("Hint"));
    row->addWidget(hintLabel, 1);

    canvas = new SheetCanvas(this);
    column->addWidget(ribbon);
    column->addWidget(canvas, 1);
    setCentralWidget(central);

    if (sheet().views.empty())
        arrangeViews();
    scaleCombo->setCurrentIndex(std::max(scaleCombo->findData(sheet().scale), 0));
    setTool(0);
}

void DrawingWindow::fillTitleBlockDefaults()
{
    Drawing& s = sheet();
    const auto fill = [&s](const QString& key, const QString& value) {
        QString& entry = s.title[key];
        if (entry.isEmpty())
            entry = value;
    };
    const qor::model::Document& doc = document();
    const auto& bodies = doc.current.bodies.get();
    fill(QStringLiteral("Benennung"), controller->displayName());
    fill(QStringLiteral("Zeichnungsnummer"),
         doc.meta.value(QStringLiteral("number")).toVariant().toString());
    fill(QStringLiteral("Werkstoff"),
         bodies.empty() ? QString() : doc.bodyAppearance(bodies.begin()->first).material);
    s.title[QStringLiteral("Maßstab")] = scaleText(s.scale);
    fill(QStringLiteral("Gezeichnet"), qEnvironmentVariable("USER"));
    fill(QStringLiteral("Datum"), QDate::currentDate().toString(QStringLiteral("dd.MM.yyyy")));
    const QString company = Theme::instance().companyName;
    fill(QStringLiteral("Firma"), company.isEmpty() ? QStringLiteral("Tarnwick") : company);
}

void DrawingWindow::showSheetScale()
{
    scaleCombo->setCurrentIndex(scaleCombo->findData(sheet().scale));
}

void DrawingWindow::commit(const QString& label)
{
    // The title block goes into the undo step, so that undo and redo restore a "Maßstab"
    // that matches the sheet's scale.
    fillTitleBlockDefaults();
    controller->commit(label);
    showSheetScale();
    canvas->update();
}

void DrawingWindow::setTool(int newTool)
{
    tool = newTool;
    picks = {};
    for (QToolButton* button : findChildren<QToolButton*>()) {
        if (button->property("toolSelect").toBool())
            button->setChecked(tool == 0);
        if (button->property("toolDim").toBool())
            button->setChecked(tool == 1);
    }
    hintLabel->setHint(tool == 1 ? dimensionHint : selectHint);
    canvas->setCursor(tool == 1 ? Qt::CrossCursor : Qt::ArrowCursor);
    // The tool buttons take no focus; the tools' keys (Esc, Entf, F) belong to the sheet,
    // not to the format box that had the keyboard before.
    canvas->setFocus();
    canvas->update();
}

void DrawingWindow::arrangeViews()
{
    qor::app::arrangeViews(projections, document(), sheet());
    canvas->fitToWindow();
}

void DrawingWindow::autoDimension()
{
    qor::app::autoDimension(projections, document(), sheet());
}

void DrawingWindow::addDimension(double x, double y)
{
    std::optional<Drawing::Dim> dim
        = pickedDimension(projections, document(), sheet(), picks, x, y);
    if (!dim)
        return;
    sheet().dims.push_back(*dim);
    picks = {};
    commit(QStringLiteral("Bemaßung"));
}

void DrawingWindow::onFormatChosen()
{
    sheet().format = formatCombo->currentData().toString();
    arrangeViews();
    commit(QStringLiteral("Blattformat ändern"));
}

void DrawingWindow::onScaleChosen()
{
    sheet().scale = scaleCombo->currentData().toDouble();
    arrangeViews();
    commit(QStringLiteral("Maßstab ändern"));
}

void DrawingWindow::toggleHiddenLines()
{
    std::vector<Drawing::View>& views = sheet().views;
    const bool hidden = !views.empty() && !views.front().hidden;
    for (Drawing::View& view : views)
        view.hidden = hidden;
    commit(QStringLiteral("Verdeckte Kanten"));
}

void DrawingWindow::toggleSection()
{
    Drawing::View* target = nullptr;
    for (Drawing::View& view : sheet().views) {
        if (selectedView != 0 && view.id == selectedView)
            target = &view;
        else if (selectedView == 0 && !target && view.type == int(ViewKind::Front))
            target = &view;
    }
    if (!target || target->type == int(ViewKind::Isometric)) {
        hintLabel->setHint(
            QStringLiteral("Für einen Schnitt eine Normalansicht (nicht die Isometrie) auswählen"));
        return;
    }
    target->section = !target->section;
    commit(target->section ? QStringLiteral("Schnittansicht")
                           : QStringLiteral("Schnittansicht aus"));
}

void DrawingWindow::exportDrawing()
{
    const QString suggested
        = QDir(settings::lastDirOrHome())
              .filePath(controller->displayName() + QStringLiteral("_Zeichnung.pdf"));
    QString filter;
    const FileToWrite chosen = chooseFileToWrite(
        this, suggested,
        [&](const QString& start) { return chooseExportPath(this, start, &filter); },
        [&](const QString& name) { return drawingExportPath(name, filter); });
    const QString& path = chosen.path;
    if (path.isEmpty())
        return;
    settings::rememberFolderOf(path);
    if (!chosen.refusal.isEmpty()) {
        QMessageBox::warning(this, QStringLiteral("Export"), chosen.refusal);
        return;
    }
    QString error;
    if (!writeDrawing(projections, document(), sheet(), path, &error)) {
        QMessageBox::warning(this, QStringLiteral("Export"), error);
        return;
    }
    hintLabel->setHint(QStringLiteral("Exportiert: ") + QFileInfo(path).fileName());
}

} // namespace qor::app
