#include "panels/dialogs/ExplodeDialog.h"

#include "view/Scene.h"

#include <QLabel>
#include <QPushButton>
#include <QSlider>
#include <QVBoxLayout>

namespace qor::app {

ExplodeDialog::ExplodeDialog(Scene* scene, QWidget* parent)
    : QorDialog(QStringLiteral("Explosionsansicht"), QStringLiteral("explode"), parent)
    , slider_(new QSlider(Qt::Horizontal))
{
    auto* layout = new QVBoxLayout(body());
    auto* hint = new QLabel(QStringLiteral("Komponenten vom Baugruppenmittelpunkt wegrücken "
                                           "(nur Ansicht, das Modell bleibt unverändert)."));
    hint->setObjectName(QStringLiteral("Hint"));
    hint->setWordWrap(true);
    layout->addWidget(hint);
    slider_->setRange(0, 200);
    slider_->setValue(int(scene->explodeFactor() * 100.0));
    layout->addWidget(slider_);
    auto* value = new QLabel;
    layout->addWidget(value);

    const auto apply = [scene, value](int percent) {
        scene->setExplodeFactor(percent / 100.0);
        value->setText(QStringLiteral("Abstand: %1 %").arg(percent));
    };
    connect(slider_, &QSlider::valueChanged, this, apply);
    apply(slider_->value());

    QPushButton* reset = addButton(QStringLiteral("Zurücksetzen"));
    reset->disconnect(this);
    connect(reset, &QPushButton::clicked, this, [this] { slider_->setValue(0); });
    connect(addButton(QStringLiteral("Schließen"), true), &QPushButton::clicked, this,
            &QDialog::accept);
    resize(440, 220);
}

} // namespace qor::app
