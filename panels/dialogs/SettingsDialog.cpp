#include "panels/dialogs/SettingsDialog.h"

#include "ui/Settings.h"

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QFormLayout>
#include <QLabel>
#include <QMessageBox>
#include <QPushButton>
#include <QSettings>

#include <cmath>

namespace qor::app {

namespace {

QSettings userSettings()
{
    return QSettings(QStringLiteral("Tarnwick"), QStringLiteral("QorCAD"));
}

QComboBox* choice(const std::initializer_list<std::pair<QString, QVariant>>& items)
{
    auto* combo = new QComboBox;
    for (const auto& [text, value] : items)
        combo->addItem(text, value);
    return combo;
}

QLabel* hint(const QString& text)
{
    auto* label = new QLabel(text);
    label->setObjectName(QStringLiteral("Hint"));
    label->setWordWrap(true);
    return label;
}

} // namespace

SettingsDialog::SettingsDialog(QWidget* parent)
    : QorDialog(QStringLiteral("Einstellungen"), QStringLiteral("settings"), parent)
{
    const QSettings store = userSettings();
    nav_ = choice({{QStringLiteral("Solid Edge – mittlere Taste dreht, Umschalt+Mitte verschiebt"),
                    QStringLiteral("solidedge")},
                   {QStringLiteral("Fusion – mittlere Taste verschiebt, Umschalt+Mitte dreht"),
                    QStringLiteral("fusion")}});
    nav_->setCurrentIndex(store.value(settings::nav).toString() == u"fusion" ? 1 : 0);
    touchpad_ = choice(
        {{QStringLiteral("Zwei Finger wischen dreht (Strg = Zoom, Umschalt = Verschieben)"),
          QStringLiteral("rotate")},
         {QStringLiteral("Zwei Finger wischen zoomt (wie ein Mausrad)"), QStringLiteral("zoom")}});
    touchpad_->setCurrentIndex(store.value(settings::touchpad).toString() == u"zoom" ? 1 : 0);

    meshQuality_ = choice({{QStringLiteral("Grob (kleine Dateien)"), 0.1},
                           {QStringLiteral("Mittel"), 0.05},
                           {QStringLiteral("Fein"), 0.02},
                           {QStringLiteral("Sehr fein"), 0.005}});
    const double quality
        = store.value(settings::meshQuality, settings::defaultMeshQuality).toDouble();
    meshQuality_->setCurrentIndex(0);
    for (int i = 0; i < meshQuality_->count(); ++i) {
        if (std::abs(meshQuality_->itemData(i).toDouble() - quality) < 1e-9)
            meshQuality_->setCurrentIndex(i);
    }

    gl_ = choice(
        {{QStringLiteral("Automatisch (Software in virtuellen Maschinen)"), QStringLiteral("auto")},
         {QStringLiteral("Grafikkarte (OpenGL-Hardware)"), QStringLiteral("hardware")},
         {QStringLiteral("Software (Mesa llvmpipe – stabil, langsamer)"),
          QStringLiteral("software")}});
    gl_->setCurrentIndex(
        std::max(0, gl_->findData(store.value(settings::gl, settings::defaultGl).toString())));

    const QString softwareReason = qApp->property("softwareGl").toString();
    checkUpdates_ = new QCheckBox(QStringLiteral("Beim Start nach Updates suchen"));
    checkUpdates_->setChecked(
        store.value(settings::checkUpdates, settings::defaultCheckUpdates).toBool());

    auto* form = new QFormLayout(body());
    form->setVerticalSpacing(12);
    form->addRow(QStringLiteral("Navigation"), nav_);
    form->addRow(QStringLiteral("Touchpad"), touchpad_);
    form->addRow(
        hint(QStringLiteral("Drehen geht immer auch mit gedrückter rechter Maustaste, "
                            "den Pfeiltasten oder dem Orbit-Knopf unten in der Ansicht.")));
    form->addRow(QStringLiteral("Netzqualität (STL/OBJ/glTF)"), meshQuality_);
    form->addRow(QStringLiteral("Grafikausgabe"), gl_);
    form->addRow(
        hint(softwareReason.isEmpty()
                 ? QStringLiteral("Zurzeit: Grafikkarte")
                 : QStringLiteral("Zurzeit: Software-Rendering – Grund: ") + softwareReason));
    form->addRow(checkUpdates_);
    form->addRow(hint(QStringLiteral(
        "Die Navigation gilt sofort, die Grafikausgabe nach einem Neustart; alle Einstellungen "
        "werden pro Benutzer gespeichert (~/.config/Tarnwick/QorCAD.conf).")));

    addButton(QStringLiteral("Abbrechen"));
    QPushButton* saveButton = addButton(QStringLiteral("Speichern"), true);
    connect(saveButton, &QPushButton::clicked, this, &SettingsDialog::save);
    resize(560, 280);
}

SettingsDialog::~SettingsDialog() = default;

void SettingsDialog::save()
{
    QSettings store = userSettings();
    store.setValue(settings::nav, nav_->currentData());
    store.setValue(settings::touchpad, touchpad_->currentData());
    store.setValue(settings::meshQuality, meshQuality_->currentData());
    store.setValue(settings::checkUpdates, checkUpdates_->isChecked());
    // Any unknown stored text already means "auto"; only a real change of mode is news.
    const QString glMode = gl_->currentData().toString();
    if (glMode != settings::glModeOf(store.value(settings::gl, settings::defaultGl).toString())) {
        store.setValue(settings::gl, glMode);
        store.sync();
        QMessageBox::information(this, QStringLiteral("Grafikausgabe"),
                                 QStringLiteral("Die Grafikausgabe wird beim nächsten Start von "
                                                "QorCAD umgestellt."));
    }
    accept();
}

} // namespace qor::app
