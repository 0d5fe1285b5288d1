#pragma once

#include "panels/dialogs/QorDialog.h"

class QSlider;

namespace qor::app {

class Scene;

// Pulls the components apart in the 3D view: only the scene's explode factor changes, never
// the document. The factor stays where the slider left it after closing.
class ExplodeDialog : public QorDialog {
    Q_OBJECT

public:
    ExplodeDialog(Scene* scene, QWidget* parent = nullptr);

    QSlider* slider() const { return slider_; }

private:
    QSlider* slider_;
};

} // namespace qor::app
