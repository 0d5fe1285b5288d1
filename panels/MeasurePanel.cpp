#include "panels/MeasurePanel.h"

#include "ui/theme/Theme.h"
#include "panels/Measurement.h"

#include <QLabel>
#include <QVBoxLayout>

namespace qor::app {

MeasurePanel::MeasurePanel(QWidget* owner, QWidget* parent)
    : QFrame(parent)
    , owner_(owner)
    , resultLabel_(new QLabel(this))
{
    setObjectName(QStringLiteral("Hud"));
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(14, 10, 14, 12);
    auto* caption = new QLabel(QStringLiteral("MESSEN"), this);
    caption->setObjectName(QStringLiteral("GroupLabel"));
    layout->addWidget(caption);

    // Rich text: the line break of the hint has to be a tag.
    resultLabel_->setText(
        QStringLiteral("Ein oder zwei Elemente wählen<br>(Strg/Umschalt für das zweite)"));
    resultLabel_->setTextFormat(Qt::RichText);
    resultLabel_->setTextInteractionFlags(Qt::TextSelectableByMouse);
    // The theme's style sheet sets every widget's font family, which beats setFont.
    resultLabel_->setStyleSheet(
        QStringLiteral("font-family: \"%1\"; font-size: 12px;").arg(Theme::instance().monoFamily));
    layout->addWidget(resultLabel_);
    setFixedWidth(300);
}

MeasurePanel::~MeasurePanel() = default;

void MeasurePanel::updateMeasurement(const std::vector<PickInfo>& picks)
{
    const QStringList lines = measurementLines(picks);
    resultLabel_->setText(lines.isEmpty() ? QStringLiteral("Ein oder zwei Elemente wählen")
                                          : lines.join(QStringLiteral("<br>")));
    adjustSize();
}

QString MeasurePanel::resultText() const
{
    return resultLabel_->text();
}

} // namespace qor::app
