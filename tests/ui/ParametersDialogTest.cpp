#include "app/theme/Theme.h"
#include "model/DocumentController.h"
#include "panels/dialogs/ParametersDialog.h"

#include "ShellDocument.h"

#include <QLabel>
#include <QPushButton>
#include <QTableWidget>
#include <QTest>

#include <gtest/gtest.h>

#include <numbers>

namespace {

using qor::app::ParametersDialog;

QTableWidget* tableOf(const ParametersDialog& dialog)
{
    return dialog.findChild<QTableWidget*>();
}

QPushButton* buttonOf(const ParametersDialog& dialog, const QString& text)
{
    for (QPushButton* button : dialog.findChildren<QPushButton*>()) {
        if (button->text() == text)
            return button;
    }
    return nullptr;
}

QString statusOf(const ParametersDialog& dialog)
{
    return dialog.findChild<QLabel*>(QStringLiteral("ErrorText"))->text();
}

QString dimensionListOf(const ParametersDialog& dialog)
{
    return dialog.findChildren<QLabel*>(QStringLiteral("Hint")).last()->text();
}

// A sketch with a 25 mm distance, a 30° angle and a driven reference dimension beside two
// parameters, one of them using the distance.
void buildDimensionedPart(qor::app::DocumentController& controller)
{
    qor::model::Document& doc = *controller.document;
    const int id = qor::test::addRectangleSketch(doc, -1, 40, 25);
    qor::sketch::Sketch& sketch = *doc.feature(id)->sketch;
    using Type = qor::sketch::ConstraintType;
    sketch.addConstraint(Type::Distance, 1, 2, -1, 25.0);
    sketch.addConstraint(Type::Angle, 3, 6, -1, std::numbers::pi / 6);
    const int driven = int(sketch.addConstraint(Type::Distance, 1, 5, -1, 40.0));
    sketch.findConstraint(driven)->driven = true;
    doc.parameters.push_back({QStringLiteral("Breite"), QStringLiteral("d1 * 2"),
                              QStringLiteral("mm"), QStringLiteral("Außenmaß")});
    doc.parameters.push_back({QStringLiteral("Tiefe"), QStringLiteral("Breite / 4")});
    controller.recompute();
    controller.resetHistory();
}

void setRow(QTableWidget& table, int row, const QString& name, const QString& expr)
{
    table.item(row, 0)->setText(name);
    table.item(row, 1)->setText(expr);
}

} // namespace

TEST(ParametersDialog, ListsParametersAndDrivingSketchDimensions)
{
    qor::app::DocumentController controller;
    {
        ParametersDialog empty(&controller);
        EXPECT_EQ(dimensionListOf(empty), QStringLiteral("Noch keine Skizzenbemaßungen."));
        EXPECT_EQ(tableOf(empty)->rowCount(), 0);
    }
    buildDimensionedPart(controller);
    ParametersDialog dialog(&controller);
    EXPECT_EQ(dimensionListOf(dialog), QStringLiteral("Skizzenbemaßungen: d1 = 25 · d2 = 30"));
    QTableWidget* table = tableOf(dialog);
    ASSERT_EQ(table->rowCount(), 2);
    EXPECT_EQ(table->item(0, 2)->text(), QStringLiteral("50"));
    EXPECT_EQ(table->item(1, 2)->text(), QStringLiteral("12.5"));
    EXPECT_EQ(table->item(0, 3)->text(), QStringLiteral("Außenmaß"));
    EXPECT_EQ(table->item(0, 2)->foreground().color(), qor::app::Theme::instance().success);
    EXPECT_EQ(statusOf(dialog), QString());

    dialog.addRow();
    setRow(*table, 2, QStringLiteral("Rand"), QStringLiteral("Tiefe /"));
    dialog.show();
    const QImage shot = dialog.grab().toImage();
    EXPECT_TRUE(qor::test::saveShot(dialog, QStringLiteral("parameters.png")));
    // The value cells show their own colours through the theme's style sheet.
    const auto cellHolds = [&](int row, const QColor& colour) {
        const QRect cell = table->visualItemRect(table->item(row, 2))
                               .translated(table->viewport()->mapTo(&dialog, QPoint()));
        for (int y = cell.top(); y <= cell.bottom(); ++y) {
            for (int x = cell.left(); x <= cell.right(); ++x) {
                const QColor pixel = shot.pixelColor(x, y);
                if (std::abs(pixel.red() - colour.red()) + std::abs(pixel.green() - colour.green())
                        + std::abs(pixel.blue() - colour.blue()) < 40)
                    return true;
            }
        }
        return false;
    };
    EXPECT_TRUE(cellHolds(0, qor::app::Theme::instance().success));
    EXPECT_TRUE(cellHolds(2, qor::app::Theme::instance().danger));
    EXPECT_FALSE(cellHolds(0, qor::app::Theme::instance().danger));
}

TEST(ParametersDialog, AddedRowsTakeTheSmallestFreeNumber)
{
    qor::app::DocumentController controller;
    ParametersDialog dialog(&controller);
    QPushButton* add = buttonOf(dialog, QStringLiteral("Parameter hinzufügen"));
    for (int i = 0; i < 3; ++i)
        QTest::mouseClick(add, Qt::LeftButton);
    QTableWidget* table = tableOf(dialog);
    ASSERT_EQ(table->rowCount(), 3);
    EXPECT_EQ(table->item(2, 0)->text(), QStringLiteral("Parameter3"));
    EXPECT_EQ(table->item(2, 1)->text(), QStringLiteral("10 mm"));
    EXPECT_EQ(table->item(2, 2)->text(), QStringLiteral("10"));

    table->setCurrentCell(1, 1);
    QTest::mouseClick(buttonOf(dialog, QStringLiteral("Entfernen")), Qt::LeftButton);
    QTest::mouseClick(add, Qt::LeftButton);
    ASSERT_EQ(table->rowCount(), 3);
    EXPECT_EQ(table->item(2, 0)->text(), QStringLiteral("Parameter2"));
}

TEST(ParametersDialog, NameErrorsBlockApplyButExpressionErrorsDoNot)
{
    struct Case {
        const char* what;
        QStringList names;
        QStringList exprs;
        QStringList values; // per row
        bool applyEnabled;
    };
    const Case cases[] = {
        {"duplicate", {"Breite", "Breite"}, {"40", "5"}, {"40", "Name doppelt"}, false},
        {"invalid", {"2x", "ok"}, {"1", "2"}, {"Ungültiger Name", "2"}, false},
        {"empty name", {" ", "ok"}, {"1", "2"}, {"Ungültiger Name", "2"}, false},
        {"unit name", {"mm", "ok"}, {"1", "2"}, {"Ungültiger Name", "2"}, false},
        {"cycle", {"A", "B"}, {"B + 1", "A"}, {"Zirkulärer Bezug", "Zirkulärer Bezug"}, true},
    };
    const qor::app::Theme& theme = qor::app::Theme::instance();
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        qor::app::DocumentController controller;
        ParametersDialog dialog(&controller);
        QTableWidget* table = tableOf(dialog);
        for (int row = 0; row < c.names.size(); ++row) {
            dialog.addRow();
            setRow(*table, row, c.names[row], c.exprs[row]);
        }
        for (int row = 0; row < c.values.size(); ++row) {
            EXPECT_EQ(table->item(row, 2)->text(), c.values[row]);
            const bool ok = c.values[row].at(0).isDigit();
            EXPECT_EQ(table->item(row, 2)->foreground().color(), ok ? theme.success : theme.danger);
        }
        EXPECT_EQ(statusOf(dialog), QStringLiteral("Bitte Fehler beheben"));
        QPushButton* apply = buttonOf(dialog, QStringLiteral("Übernehmen"));
        EXPECT_EQ(apply->isEnabled(), c.applyEnabled);

        // Neither the button nor Return nor a direct call drops the offending row.
        QTest::mouseClick(apply, Qt::LeftButton);
        QTest::keyClick(&dialog, Qt::Key_Return);
        if (!c.applyEnabled)
            dialog.apply();
        const auto& stored = controller.document->parameters;
        if (c.applyEnabled) {
            ASSERT_EQ(stored.size(), 2u);
            EXPECT_EQ(stored[1].error, QStringLiteral("Zirkulärer Bezug"));
            EXPECT_EQ(dialog.result(), QDialog::Accepted);
        } else {
            EXPECT_TRUE(stored.empty());
            EXPECT_EQ(controller.history.size(), 1u);
        }
    }
}

TEST(ParametersDialog, ApplyWritesTrimmedRowsAsOneUndoStep)
{
    qor::app::DocumentController controller;
    buildDimensionedPart(controller);
    ParametersDialog dialog(&controller);
    QTableWidget* table = tableOf(dialog);
    setRow(*table, 1, QStringLiteral("  Tiefe "), QStringLiteral(" Breite / 5  "));
    dialog.addRow();
    setRow(*table, 2, QStringLiteral("Höhe"), QStringLiteral("Tiefe + 1 mm"));
    table->item(2, 3)->setText(QStringLiteral("  mit Rand "));
    EXPECT_EQ(table->item(2, 2)->text(), QStringLiteral("11"));
    EXPECT_EQ(controller.document->parameters.size(), 2u); // untouched until applied

    QTest::mouseClick(buttonOf(dialog, QStringLiteral("Übernehmen")), Qt::LeftButton);
    EXPECT_EQ(dialog.result(), QDialog::Accepted);
    ASSERT_EQ(controller.history.size(), 2u);
    EXPECT_EQ(controller.undoText(), QStringLiteral("Parameter ändern"));
    const auto& stored = controller.document->parameters;
    ASSERT_EQ(stored.size(), 3u);
    EXPECT_EQ(stored[1].name, QStringLiteral("Tiefe"));
    EXPECT_EQ(stored[1].expr, QStringLiteral("Breite / 5"));
    EXPECT_EQ(stored[2].comment, QStringLiteral("  mit Rand "));
    EXPECT_EQ(stored[2].unit, QStringLiteral("mm"));
    EXPECT_DOUBLE_EQ(stored[2].value, 11.0);

    controller.undo();
    ASSERT_EQ(controller.document->parameters.size(), 2u);
    EXPECT_EQ(controller.document->parameters[1].expr, QStringLiteral("Breite / 4"));
}
