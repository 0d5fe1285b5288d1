#include "panels/dialogs/AppearanceDialog.h"

#include "model/DocumentController.h"

#include <QColorDialog>
#include <QComboBox>
#include <QFormLayout>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QVBoxLayout>

namespace qor::app {

namespace {

const char* const presets[]
    = {"#B8C2D1", "#D9DDE3", "#8A8F96", "#3A3F46", "#141618", "#F2F2F2", "#00E5FF", "#7C4DFF",
       "#FF2BD6", "#2BFFA3", "#FFC24D", "#FF4D6D", "#1E6FFF", "#E8731A", "#C9A227", "#6B4226"};

} // namespace

AppearanceDialog::AppearanceDialog(DocumentController& controller, int bodyId, QWidget* parent)
    : QorDialog(QStringLiteral("Material und Farbe"), QStringLiteral("appearance"), parent)
    , controller_(controller)
    , target_(new QComboBox)
    , material_(new QComboBox)
    , preview_(new QLabel)
{
    const qor::model::Document& doc = *controller.document;
    const auto& bodies = doc.current.bodies.get();
    // For all bodies the dialog starts from the first one's look, so that "Übernehmen" without
    // a choice keeps an aluminium part aluminium instead of turning it into the default steel.
    const int shownBody
        = bodies.count(bodyId) != 0 || bodies.empty() ? bodyId : bodies.begin()->first;
    const qor::model::BodyAppearance look = doc.bodyAppearance(shownBody);

    target_->addItem(QStringLiteral("Alle Körper"), 0);
    for (const auto& [id, body] : bodies)
        target_->addItem(doc.bodyName(id), id);
    target_->setCurrentIndex(std::max(0, target_->findData(bodyId)));
    for (const qor::model::Material& m : qor::model::materials())
        material_->addItem(QStringLiteral("%1  (%2 g/cm³)").arg(m.name).arg(m.density, 0, 'g', 6),
                           m.name);
    material_->setCurrentIndex(std::max(0, material_->findData(look.material)));

    auto* layout = new QVBoxLayout(body());
    auto* form = new QFormLayout;
    form->addRow(QStringLiteral("Anwenden auf"), target_);
    form->addRow(QStringLiteral("Material"), material_);
    layout->addLayout(form);

    chosenColor_ = QColor::fromRgbF(float(look.r), float(look.g), float(look.b));
    auto* grid = new QGridLayout;
    grid->setSpacing(6);
    for (int i = 0; i < int(std::size(presets)); ++i) {
        auto* swatch = new QPushButton;
        swatch->setFixedSize(30, 26);
        swatch->setStyleSheet(QStringLiteral("QPushButton { background:%1; border:1px solid "
                                             "#2E4568; border-radius:5px; padding:0; } "
                                             "QPushButton:hover { border:2px solid #00E5FF; }")
                                  .arg(QLatin1String(presets[i])));
        const QColor color{QLatin1String(presets[i])};
        connect(swatch, &QPushButton::clicked, this, [this, color] { choose(color); });
        grid->addWidget(swatch, i / 8, i % 8);
    }
    layout->addLayout(grid);

    auto* row = new QHBoxLayout;
    preview_->setFixedHeight(26);
    row->addWidget(preview_, 1);
    auto* custom = new QPushButton(QStringLiteral("Eigene Farbe …"));
    connect(custom, &QPushButton::clicked, this, [this] {
        const QColor color = QColorDialog::getColor(chosenColor_, this, QStringLiteral("Farbe"));
        if (color.isValid())
            choose(color);
    });
    row->addWidget(custom);
    layout->addLayout(row);
    setSwatchColor(preview_, chosenColor_);

    // Connected only now, so that the initial selection keeps the body's own colour.
    connect(material_, &QComboBox::currentIndexChanged, this, [this] {
        if (const qor::model::Material* m
            = qor::model::findMaterial(material_->currentData().toString()))
            choose(QColor::fromRgbF(float(m->r), float(m->g), float(m->b)));
    });

    addButton(QStringLiteral("Abbrechen"));
    QPushButton* applyButton = addButton(QStringLiteral("Übernehmen"), true);
    connect(applyButton, &QPushButton::clicked, this, &AppearanceDialog::apply);
    resize(460, 340);
}

AppearanceDialog::~AppearanceDialog() = default;

void AppearanceDialog::setSwatchColor(QWidget* widget, const QColor& color)
{
    widget->setStyleSheet(
        QStringLiteral("background:%1; border-radius:5px; border:1px solid #2E4568;")
            .arg(color.name()));
}

void AppearanceDialog::choose(const QColor& color)
{
    chosenColor_ = color;
    setSwatchColor(preview_, chosenColor_);
}

void AppearanceDialog::apply()
{
    qor::model::Document& doc = *controller_.document;
    const int target = target_->currentData().toInt();
    const QString name = material_->currentData().toString();
    const qor::model::Material* m = qor::model::findMaterial(name);
    for (const auto& [id, body] : doc.current.bodies.get()) {
        if (target != 0 && target != id)
            continue;
        qor::model::BodyAppearance& look = doc.appearance[id];
        look.material = name;
        look.r = chosenColor_.redF();
        look.g = chosenColor_.greenF();
        look.b = chosenColor_.blueF();
        look.density = m ? m->density : qor::model::BodyAppearance().density;
    }
    controller_.commit(QStringLiteral("Material ändern"));
    accept();
}

} // namespace qor::app
