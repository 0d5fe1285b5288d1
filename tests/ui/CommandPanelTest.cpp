#include "panels/CommandPanel.h"

#include "ShellDocument.h"
#include "model/DocumentController.h"
#include "ui/theme/Theme.h"

#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QScrollArea>
#include <QSignalSpy>
#include <QTest>
#include <gtest/gtest.h>

using namespace qor::app;

namespace {

// A committed part with the parameter Breite = 40 mm and a rectangle sketch; each test adds
// the feature it edits the way the main window does (added, recomputed, then opened).
class CommandPanelTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        doc().parameters.push_back({QStringLiteral("Breite"), QStringLiteral("40 mm")});
        sketchId = qor::test::addRectangleSketch(doc(), -1, 40, 30);
        controller.recompute();
        controller.resetHistory();
        panel.resize(340, 520);
    }

    qor::model::Document& doc() { return *controller.document; }

    qor::model::Feature* openNew(const QString& type, const QJsonObject& params = {})
    {
        qor::model::Feature* f = doc().addFeature(type, params);
        controller.recompute();
        panel.open(f->id, true);
        return f;
    }

    QJsonArray profile() const
    {
        return QJsonArray{QJsonObject{{"kind", "sketch"}, {"id", sketchId}}};
    }

    // The field in the form row with this label.
    template <class W> W* field(const QString& label)
    {
        for (QLabel* l : panel.findChildren<QLabel*>()) {
            if (l->text() == label && l->buddy())
                return qobject_cast<W*>(l->buddy());
        }
        return nullptr;
    }

    void waitForRecompute()
    {
        QSignalSpy recomputed(&controller, &DocumentController::changed);
        ASSERT_TRUE(recomputed.wait(1000));
    }

    DocumentController controller;
    CommandPanel panel{&controller, nullptr};
    int sketchId = 0;
};

TEST_F(CommandPanelTest, OpeningStartsPickingTheFirstEmptyMandatoryField)
{
    qor::model::Feature* f = openNew(QStringLiteral("extrude"));
    EXPECT_TRUE(panel.isVisible());
    EXPECT_EQ(panel.activeKey(), QStringLiteral("profile"));
    EXPECT_EQ(doc().rollback, doc().featureIndex(f->id)); // picks land on the model before it
    EXPECT_EQ(f->error, QString());
    const auto hint = panel.findChildren<QLabel*>();
    EXPECT_TRUE(std::any_of(hint.begin(), hint.end(), [](QLabel* l) {
        return l->text()
               == QStringLiteral(
                   "Auswahl: Profil – im Modell anklicken (Strg/Umschalt für mehrere)");
    }));
    QPushButton* select = panel.findChild<QPushButton*>(QStringLiteral("SelectButton"));
    ASSERT_NE(select, nullptr);
    EXPECT_TRUE(select->isChecked());
    EXPECT_EQ(select->text(), QStringLiteral("Im Modell wählen …"));
}

TEST_F(CommandPanelTest, ValueFieldChecksExpressionsAndStoresTheText)
{
    qor::model::Feature* f = openNew(QStringLiteral("extrude"), {{"profile", profile()}});
    QLineEdit* distance = field<QLineEdit>(QStringLiteral("Abstand"));
    ASSERT_NE(distance, nullptr);
    distance->clear();
    QTest::keyClicks(distance, QStringLiteral("Breite/2"));
    EXPECT_EQ(distance->toolTip(), QStringLiteral("= 20"));
    EXPECT_FALSE(distance->property("invalid").toBool());
    EXPECT_EQ(f->params.value("distance"), QJsonValue(QStringLiteral("Breite/2")));

    QTest::keyClick(distance, Qt::Key_Backspace);
    EXPECT_TRUE(distance->property("invalid").toBool());
    EXPECT_FALSE(distance->toolTip().isEmpty());
    EXPECT_FALSE(distance->toolTip().startsWith(QLatin1Char('=')));
    EXPECT_EQ(f->params.value("distance"), QJsonValue(QStringLiteral("Breite/2")));

    // A choice rebuilds the form after its signal: the second distance appears.
    EXPECT_EQ(field<QLineEdit>(QStringLiteral("Abstand Seite 2")), nullptr);
    auto* extent = field<QComboBox>(QStringLiteral("Ausdehnung"));
    ASSERT_NE(extent, nullptr);
    extent->setCurrentIndex(extent->findData(QStringLiteral("two")));
    QCoreApplication::processEvents();
    EXPECT_NE(field<QLineEdit>(QStringLiteral("Abstand Seite 2")), nullptr);
}

TEST_F(CommandPanelTest, OnlyAChangedTextRecomputes)
{
    qor::model::Feature* f = openNew(QStringLiteral("extrude"), {{"profile", profile()}});
    QLineEdit* distance = field<QLineEdit>(QStringLiteral("Abstand"));
    ASSERT_NE(distance, nullptr);
    const QString stored = f->params.value("distance").toString();
    QSignalSpy recomputed(&controller, &DocumentController::changed);
    emit distance->textEdited(stored);
    QTest::qWait(250);
    EXPECT_EQ(recomputed.count(), 0);

    emit distance->textEdited(QStringLiteral("7 mm"));
    emit distance->textEdited(QStringLiteral("8 mm"));
    QTest::qWait(250);
    EXPECT_EQ(recomputed.count(), 1); // debounced: one recompute for both edits
}

TEST_F(CommandPanelTest, AcceptLeavesOneStepNamedAfterTheFeature)
{
    qor::model::Feature* f = openNew(QStringLiteral("extrude"), {{"profile", profile()}});
    const QString name = f->name;
    const int id = f->id;
    QSignalSpy finished(&panel, &CommandPanel::finished);
    QTest::keyClick(&panel, Qt::Key_Return);
    EXPECT_EQ(finished.count(), 1);
    EXPECT_FALSE(panel.isVisible());
    ASSERT_EQ(controller.history.size(), 2u);
    EXPECT_EQ(controller.undoText(), name + QStringLiteral(" erstellen"));
    EXPECT_EQ(doc().rollback, -1);
    EXPECT_EQ(doc().current.bodies.size(), 1u);

    panel.open(id, false);
    doc().feature(id)->params["distance"] = QStringLiteral("Breite");
    panel.accept();
    ASSERT_EQ(controller.history.size(), 3u);
    EXPECT_EQ(controller.undoText(), name + QStringLiteral(" bearbeiten"));
}

TEST_F(CommandPanelTest, CancelLeavesFeaturesAndHistoryAsTheyWere)
{
    const QJsonObject before = doc().toJson();
    openNew(QStringLiteral("extrude"));
    QTest::keyClick(&panel, Qt::Key_Escape);
    EXPECT_FALSE(panel.isVisible());
    EXPECT_EQ(doc().toJson(), before);
    EXPECT_EQ(controller.history.size(), 1u);

    // An edit of a committed feature behind a rollback position comes back unchanged.
    qor::model::Feature* f = doc().addFeature(QStringLiteral("box"));
    doc().rollback = 1;
    controller.commit(QStringLiteral("Quader erstellen"));
    const QJsonObject committed = doc().toJson();
    panel.open(f->id, false);
    doc().feature(f->id)->params["length"] = QStringLiteral("99 mm");
    panel.cancel();
    EXPECT_EQ(doc().toJson(), committed);
    EXPECT_EQ(controller.history.size(), 2u);
}

TEST_F(CommandPanelTest, FailingNewFeatureCannotBeConfirmedByButton)
{
    qor::model::Feature* f = openNew(QStringLiteral("extrude"));
    panel.startSelection(QString()); // stop picking: the extrusion runs without a profile
    panel.updatePreview();
    EXPECT_FALSE(f->error.isEmpty());
    QPushButton* ok = panel.findChild<QPushButton*>(QStringLiteral("Primary"));
    ASSERT_NE(ok, nullptr);
    EXPECT_FALSE(ok->isEnabled());
}

TEST_F(CommandPanelTest, RendersExtrudeAndFilletPanels)
{
    openNew(QStringLiteral("extrude"), {{"profile", profile()}, {"extent", "two"}});
    ASSERT_TRUE(qor::test::saveShot(panel, QStringLiteral("panel-extrude.png")));
    panel.cancel();
    openNew(QStringLiteral("box"));
    panel.accept();
    openNew(QStringLiteral("fillet"), {{"mode", "var"}});
    ASSERT_TRUE(qor::test::saveShot(panel, QStringLiteral("panel-fillet.png")));
}

// The form area shows the panel colour, not the window's, and the two buttons keep a gap.
TEST_F(CommandPanelTest, FormAreaInPanelColourAndButtonsApart)
{
    openNew(QStringLiteral("extrude"), {{"profile", profile()}});
    const QImage image = panel.grab().toImage();
    const QWidget* viewport = panel.findChild<QScrollArea*>()->viewport();
    const QRect form(viewport->mapTo(&panel, QPoint()), viewport->size());
    // Below the last row of the form nothing but background is drawn.
    const QPoint empty(form.center().x(), form.bottom() - 4);
    EXPECT_EQ(QColor(image.pixel(empty)).name().toStdString(),
              Theme::instance().bg1.name().toStdString());

    QPushButton* cancel = nullptr;
    for (QPushButton* button : panel.findChildren<QPushButton*>()) {
        if (button->text() == QStringLiteral("Abbrechen"))
            cancel = button;
    }
    const auto* ok = panel.findChild<QPushButton*>(QStringLiteral("Primary"));
    ASSERT_TRUE(cancel && ok);
    EXPECT_GE(ok->geometry().left() - cancel->geometry().right() - 1, 6);
}

} // namespace
