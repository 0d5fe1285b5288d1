#pragma once

#include "view/Picking.h"

#include <QFrame>

#include <vector>

class QLabel;

namespace qor::app {

// The small frame over the 3D view that measures what is picked: one element's area, length,
// diameter or position, or two elements' distance and angle. It changes nothing.
class MeasurePanel : public QFrame {
    Q_OBJECT

public:
    // owner is the main window; parent is the 3D view the panel floats over.
    MeasurePanel(QWidget* owner, QWidget* parent);
    ~MeasurePanel() override;

    // Replaces the shown result by the measurement of the picks.
    void updateMeasurement(const std::vector<PickInfo>& picks);
    QString resultText() const;

private:
    QWidget* owner_;
    QLabel* resultLabel_;
};

} // namespace qor::app
