#include "panels/dialogs/MoveComponentDialog.h"

#include "model/DocumentController.h"
#include "panels/PanelRules.h"
#include "panels/Repolish.h"

#include <BRepBndLib.hxx>
#include <Bnd_Box.hxx>
#include <Standard_Failure.hxx>
#include <TopLoc_Location.hxx>

#include <QFormLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>

#include <numbers>

namespace qor::app {

namespace {

const std::array<const char*, 6> fieldLabels{"X (mm)",        "Y (mm)",        "Z (mm)",
                                             "Drehung X (°)", "Drehung Y (°)", "Drehung Z (°)"};

gp_Trsf turnAbout(const gp_Pnt& centre, const gp_Dir& direction, double degrees)
{
    gp_Trsf turn;
    turn.SetRotation(gp_Ax1(centre, direction), degrees * std::numbers::pi / 180.0);
    return turn;
}

} // namespace

gp_Pnt componentCentre(const qor::model::Document& doc, const qor::model::Component& component)
{
    Bnd_Box box;
    try {
        const TopLoc_Location placement(component.transform());
        for (const qor::model::ComponentBody& body : doc.componentShape(component))
            BRepBndLib::Add(body.shape.Moved(placement), box, Standard_True);
    } catch (const Standard_Failure&) {
        return gp_Pnt(0.0, 0.0, 0.0);
    }
    if (box.IsVoid())
        return gp_Pnt(0.0, 0.0, 0.0);
    double xMin, yMin, zMin, xMax, yMax, zMax;
    box.Get(xMin, yMin, zMin, xMax, yMax, zMax);
    return gp_Pnt((xMin + xMax) / 2.0, (yMin + yMax) / 2.0, (zMin + zMax) / 2.0);
}

MoveComponentDialog::MoveComponentDialog(DocumentController* controller, int componentId,
                                         QWidget* parent)
    : QorDialog(QStringLiteral("Komponente bewegen"), QStringLiteral("move"), parent)
    , controller_(controller)
    , componentId_(componentId)
{
    auto* form = new QFormLayout(body());
    const qor::model::Component* component = controller->document->component(componentId);
    auto* hint = new QLabel(
        component ? QStringLiteral("Verschiebung und Drehung relativ zur aktuellen Lage von "
                                   "„%1“. Beziehungen haben Vorrang.")
                        .arg(component->name)
                  : QString());
    hint->setObjectName(QStringLiteral("Hint"));
    hint->setWordWrap(true);
    form->addRow(hint);
    for (std::size_t i = 0; i < edits_.size(); ++i) {
        edits_[i] = new QLineEdit(QStringLiteral("0"));
        edits_[i]->setObjectName(QStringLiteral("ValueEdit"));
        connect(edits_[i], &QLineEdit::textChanged, this, &MoveComponentDialog::checkFields);
        form->addRow(QString::fromUtf8(fieldLabels[i]), edits_[i]);
    }
    addButton(QStringLiteral("Abbrechen"));
    moveButton_ = addButton(QStringLiteral("Bewegen"), true);
    connect(moveButton_, &QPushButton::clicked, this, &MoveComponentDialog::apply);
    resize(420, 380);
}

void MoveComponentDialog::checkFields()
{
    bool allOk = true;
    for (QLineEdit* edit : edits_) {
        const ValueCheck check = checkValueText(*controller_->document, edit->text());
        edit->setProperty("invalid", !check.ok);
        edit->setToolTip(check.toolTip);
        repolish(edit);
        allOk = allOk && check.ok;
    }
    moveButton_->setEnabled(allOk);
}

void MoveComponentDialog::apply()
{
    qor::model::Document& doc = *controller_->document;
    qor::model::Component* component = doc.component(componentId_);
    if (!component) {
        reject();
        return;
    }
    std::array<double, 6> values{};
    for (std::size_t i = 0; i < edits_.size(); ++i) {
        const qor::EvalResult result = doc.tryEval(edits_[i]->text());
        if (!result.ok)
            return; // the field shows its message; nothing moves while one fails
        values[i] = result.value;
    }
    const gp_Pnt centre = componentCentre(doc, *component);
    gp_Trsf shift;
    shift.SetTranslation(gp_Vec(values[0], values[1], values[2]));
    const gp_Trsf placement = shift * turnAbout(centre, gp::DZ(), values[5])
                              * turnAbout(centre, gp::DY(), values[4])
                              * turnAbout(centre, gp::DX(), values[3]) * component->transform();
    component->setPlacement(placement);
    controller_->commit(QStringLiteral("Komponente bewegen"));
    accept();
}

} // namespace qor::app
