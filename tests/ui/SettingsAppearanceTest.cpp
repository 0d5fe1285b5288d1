#include "model/DocumentController.h"
#include "panels/dialogs/AppearanceDialog.h"
#include "panels/dialogs/SettingsDialog.h"

#include <QApplication>
#include <QComboBox>
#include <QMessageBox>
#include <QSettings>
#include <QTemporaryDir>
#include <QTimer>

#include <gtest/gtest.h>

namespace {

// Closes every message box that opens while it lives and keeps their texts.
class MessageBoxCatcher {
public:
    MessageBoxCatcher()
    {
        QObject::connect(&timer_, &QTimer::timeout, [this] {
            if (auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget())) {
                texts << box->text();
                box->accept();
            }
        });
        timer_.start(5);
    }
    QStringList texts;

private:
    QTimer timer_;
};

QComboBox* comboWith(const QWidget& dialog, const QString& itemText)
{
    for (QComboBox* combo : dialog.findChildren<QComboBox*>()) {
        if (combo->findText(itemText) >= 0)
            return combo;
    }
    return nullptr;
}

TEST(SettingsDialog, WritesGlOnlyWhenTheModeChanges)
{
    QTemporaryDir home;
    QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope, home.path());
    const auto stored = [](const QString& key) {
        return QSettings(QStringLiteral("Tarnwick"), QStringLiteral("QorCAD")).value(key);
    };
    {
        QSettings seed(QStringLiteral("Tarnwick"), QStringLiteral("QorCAD"));
        seed.setValue(QStringLiteral("nav"), QStringLiteral("maya"));
        seed.setValue(QStringLiteral("meshQuality"), 0.03);
    }

    MessageBoxCatcher catcher;
    qor::app::SettingsDialog unchanged;
    unchanged.save();
    EXPECT_EQ(unchanged.result(), QDialog::Accepted);
    EXPECT_FALSE(stored(QStringLiteral("gl")).isValid());
    EXPECT_EQ(stored(QStringLiteral("nav")).toString(), QStringLiteral("solidedge"));
    EXPECT_EQ(stored(QStringLiteral("meshQuality")).toDouble(), 0.1);
    EXPECT_TRUE(stored(QStringLiteral("checkUpdates")).toBool());

    qor::app::SettingsDialog changed;
    QComboBox* gl = comboWith(changed, QStringLiteral("Grafikkarte (OpenGL-Hardware)"));
    ASSERT_NE(gl, nullptr);
    EXPECT_EQ(gl->currentData().toString(), QStringLiteral("auto"));
    gl->setCurrentIndex(2);
    changed.save();
    EXPECT_EQ(stored(QStringLiteral("gl")).toString(), QStringLiteral("software"));
    QApplication::processEvents();
    EXPECT_EQ(catcher.texts,
              QStringList{"Die Grafikausgabe wird beim nächsten Start von QorCAD umgestellt."});
}

TEST(AppearanceDialog, AppliesMaterialAndColourToTheChosenBodies)
{
    qor::app::DocumentController controller;
    qor::model::Document& doc = *controller.document;
    doc.addFeature(QStringLiteral("box"), {{"x", "0"}});
    doc.addFeature(QStringLiteral("box"), {{"x", "100"}});
    controller.recompute();
    ASSERT_EQ(doc.current.bodies.get().size(), 2u);
    const int first = doc.current.bodies.get().begin()->first;
    const int second = std::next(doc.current.bodies.get().begin())->first;
    doc.appearance[second] = {QStringLiteral("Kupfer"), 0.9, 0.5, 0.3, 8.96};
    controller.commit(QStringLiteral("Quader"));

    // An unknown body starts at "Alle Körper" with the default look.
    qor::app::AppearanceDialog all(controller, 4711);
    QComboBox* target = comboWith(all, QStringLiteral("Alle Körper"));
    QComboBox* material = comboWith(all, QStringLiteral("Stahl  (7.85 g/cm³)"));
    ASSERT_TRUE(target && material);
    EXPECT_EQ(target->currentIndex(), 0);
    // Choosing a material takes its colour; the own body's colour stays until then.
    EXPECT_EQ(all.chosenColor(), QColor::fromRgbF(0.72f, 0.76f, 0.82f));
    material->setCurrentIndex(material->findData(QStringLiteral("Aluminium")));
    const qor::model::Material* aluminium = qor::model::findMaterial(QStringLiteral("Aluminium"));
    ASSERT_NE(aluminium, nullptr);
    EXPECT_EQ(all.chosenColor(),
              QColor::fromRgbF(float(aluminium->r), float(aluminium->g), float(aluminium->b)));
    all.apply();
    for (const int id : {first, second}) {
        EXPECT_EQ(doc.appearance.at(id).material, QStringLiteral("Aluminium"));
        EXPECT_EQ(doc.appearance.at(id).density, aluminium->density);
    }
    EXPECT_EQ(controller.undoText(), QStringLiteral("Material ändern"));
    const std::size_t steps = controller.history.size();

    // One body: its own material shows; applying unchanged adds no undo step.
    qor::app::AppearanceDialog one(controller, second);
    EXPECT_EQ(comboWith(one, QStringLiteral("Alle Körper"))->currentData().toInt(), second);
    one.apply();
    EXPECT_EQ(controller.history.size(), steps);
}

} // namespace
