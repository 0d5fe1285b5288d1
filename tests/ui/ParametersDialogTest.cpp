#include "panels/dialogs/ParametersDialog.h"
#include "ui/theme/Theme.h"
#include "model/DocumentController.h"

#include "ShellDocument.h"

#include <QLabel>
#include <QPushButton>
#include <QTableWidget>
#include <QTest>

#include <gtest/gtest.h>

#include <numbers>

namespace {

using qor::app::ParametersDialog;

QPushButton* buttonOf(const ParametersDialog& dialog, const QString& text)
{
    for (QPushButton* button : dialog.findChildren<QPushButton*>()) {
        if (button->text() == text)
            return button;
    }
    return nullptr;
}

// A sketch with a 25 mm distance, a 30° angle and a driven reference dimension; two
// parameters, one of them using the distance.
void buildDimensionedPart(qor::app::DocumentController& controller)
{
    qor::model::Document& doc = *controller.document;
    const int sketchId = qor::test::addRectangleSketch(doc, -1, 40, 25);
    qor::sketch::Sketch& sketch = *doc.feature(sketchId)->sketch;
    using Type = qor::sketch::ConstraintType;
    sketch.addConstraint(Type::Distance, 1, 2, -1, 25.0);
    sketch.addConstraint(Type::Angle, 3, 6, -1, std::numbers::pi / 6);
    const int reference = int(sketch.addConstraint(Type::Distance, 1, 5, -1, 40.0));
    sketch.findConstraint(reference)->driven = true;
    doc.parameters.push_back({QStringLiteral("Breite"), QStringLiteral("d1 * 2")});
    doc.parameters.push_back({QStringLiteral("Tiefe"), QStringLiteral("Breite / 4")});
    controller.commit(QStringLiteral("Teil"));
}

void setRow(QTableWidget& table, int row, const QString& name, const QString& expr)
{
    table.item(row, 0)->setText(name);
    table.item(row, 1)->setText(expr);
}

// Whether the rendered value cell holds a pixel close to the colour.
bool valueCellShows(const ParametersDialog& dialog, int row, const QColor& colour)
{
    const QTableWidget* table = dialog.findChild<QTableWidget*>();
    const QImage shot = const_cast<ParametersDialog&>(dialog).grab().toImage();
    const QRect cell = table->visualItemRect(table->item(row, 2))
                           .translated(table->viewport()->mapTo(&dialog, QPoint()));
    for (int y = cell.top(); y <= cell.bottom(); ++y) {
        for (int x = cell.left(); x <= cell.right(); ++x) {
            const QColor p = shot.pixelColor(x, y);
            if (std::abs(p.red() - colour.red()) + std::abs(p.green() - colour.green())
                    + std::abs(p.blue() - colour.blue())
                < 40)
                return true;
        }
    }
    return false;
}

} // namespace

TEST(ParametersDialog, ShowsValuesErrorsAndDrivingSketchDimensions)
{
    qor::app::DocumentController controller;
    EXPECT_EQ(
        ParametersDialog(&controller).findChildren<QLabel*>(QStringLiteral("Hint")).last()->text(),
        QStringLiteral("Noch keine Skizzenbemaßungen."));
    buildDimensionedPart(controller);
    ParametersDialog dialog(&controller);
    EXPECT_EQ(dialog.findChildren<QLabel*>(QStringLiteral("Hint")).last()->text(),
              QStringLiteral("Skizzenbemaßungen: d1 = 25 · d2 = 30"));
    QTableWidget* table = dialog.findChild<QTableWidget*>();
    dialog.addRow();
    setRow(*table, 2, QStringLiteral("Rand"), QStringLiteral("Tiefe /"));
    EXPECT_EQ(table->item(0, 2)->text(), QStringLiteral("50"));
    EXPECT_EQ(table->item(1, 2)->text(), QStringLiteral("12.5"));
    EXPECT_EQ(dialog.findChild<QLabel*>(QStringLiteral("ErrorText"))->text(),
              QStringLiteral("Bitte Fehler beheben"));

    dialog.show();
    EXPECT_TRUE(qor::test::saveShot(dialog, QStringLiteral("parameters.png")));
    const qor::app::Theme& theme = qor::app::Theme::instance();
    EXPECT_TRUE(valueCellShows(dialog, 0, theme.success));
    EXPECT_FALSE(valueCellShows(dialog, 0, theme.danger));
    EXPECT_TRUE(valueCellShows(dialog, 2, theme.danger));
}

TEST(ParametersDialog, NameErrorsBlockApplyButExpressionErrorsDoNot)
{
    struct Case {
        QStringList names;
        QStringList exprs;
        QStringList values;
        bool applies;
    };
    const Case cases[] = {
        {{"Breite", "Breite"}, {"40", "5"}, {"40", "Name doppelt"}, false},
        {{"2x", "ok"}, {"1", "2"}, {"Ungültiger Name", "2"}, false},
        {{" ", "mm"}, {"1", "2"}, {"Ungültiger Name", "Ungültiger Name"}, false},
        {{"A", "B"}, {"B + 1", "A"}, {"Zirkulärer Bezug", "Zirkulärer Bezug"}, true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.names.join(',').toStdString());
        qor::app::DocumentController controller;
        ParametersDialog dialog(&controller);
        QTableWidget* table = dialog.findChild<QTableWidget*>();
        for (int row = 0; row < 2; ++row) {
            dialog.addRow();
            setRow(*table, row, c.names[row], c.exprs[row]);
        }
        EXPECT_EQ(QStringList({table->item(0, 2)->text(), table->item(1, 2)->text()}), c.values);
        QPushButton* apply = buttonOf(dialog, QStringLiteral("Übernehmen"));
        EXPECT_EQ(apply->isEnabled(), c.applies);
        // Neither the button, nor Return, nor a direct call drops the offending row.
        QTest::mouseClick(apply, Qt::LeftButton);
        QTest::keyClick(&dialog, Qt::Key_Return);
        dialog.apply();
        EXPECT_EQ(controller.document->parameters.size(), c.applies ? 2u : 0u);
        EXPECT_EQ(controller.history.size(), c.applies ? 2u : 1u);
    }
}

TEST(ParametersDialog, AddsFreeNamesAndAppliesTrimmedRowsAsOneUndoStep)
{
    qor::app::DocumentController controller;
    buildDimensionedPart(controller);
    ParametersDialog dialog(&controller);
    QTableWidget* table = dialog.findChild<QTableWidget*>();
    QPushButton* add = buttonOf(dialog, QStringLiteral("Parameter hinzufügen"));
    for (int i = 0; i < 3; ++i)
        QTest::mouseClick(add, Qt::LeftButton);
    table->setCurrentCell(3, 1);
    QTest::mouseClick(buttonOf(dialog, QStringLiteral("Entfernen")), Qt::LeftButton);
    QTest::mouseClick(add, Qt::LeftButton);
    ASSERT_EQ(table->rowCount(), 5);
    EXPECT_EQ(table->item(4, 0)->text(), QStringLiteral("Parameter2"));
    EXPECT_EQ(table->item(4, 2)->text(), QStringLiteral("10"));
    setRow(*table, 1, QStringLiteral("  Tiefe "), QStringLiteral(" Breite / 5  "));
    setRow(*table, 4, QStringLiteral("Höhe"), QStringLiteral("Tiefe + 1 mm"));
    table->item(4, 3)->setText(QStringLiteral("  mit Rand "));
    EXPECT_EQ(controller.document->parameters.size(), 2u); // untouched until applied

    QTest::mouseClick(buttonOf(dialog, QStringLiteral("Übernehmen")), Qt::LeftButton);
    EXPECT_EQ(dialog.result(), QDialog::Accepted);
    EXPECT_EQ(controller.history.size(), 3u);
    EXPECT_EQ(controller.undoText(), QStringLiteral("Parameter ändern"));
    const auto& stored = controller.document->parameters;
    ASSERT_EQ(stored.size(), 5u);
    EXPECT_EQ(stored[1].name + stored[1].expr, QStringLiteral("TiefeBreite / 5"));
    EXPECT_EQ(stored[4].comment, QStringLiteral("  mit Rand "));
    EXPECT_DOUBLE_EQ(stored[4].value, 11.0);
    controller.undo();
    EXPECT_EQ(controller.document->parameters.size(), 2u);
}
