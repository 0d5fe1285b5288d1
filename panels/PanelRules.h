#pragma once

#include "model/Document.h"
#include "model/FeatureDef.h"
#include "view/Picking.h"

#include <QJsonArray>
#include <QJsonValue>
#include <QString>

#include <vector>

// The rules of the feature panel that need no widget: which field asks first, what a typed
// value says, which pick becomes which selection reference, and where the rollback goes.

namespace qor::app {

// A selection value counts as filled unless it is absent, null, an empty array or an empty
// object.
bool isFilled(const QJsonValue& value);
bool isSelectionKind(qor::model::ParamKind kind);
// Selection kinds that collect many references (profiles, faces, edges, bodies, paths,
// features); the others hold one reference.
bool isArrayKind(qor::model::ParamKind kind);
// The pick filter of a selection field; 0 for features fields (they take timeline clicks)
// and for every non-selection kind.
int selectionMaskForKind(qor::model::ParamKind kind);

// The first mandatory, visible and still empty selection field after `after` in schema order
// (from the start when after is null); null when there is none.
const qor::model::ParamDef* nextEmptySelection(const qor::model::FeatureDef& def,
                                               const QJsonObject& params,
                                               const qor::model::ParamDef* after = nullptr);

// A stored value as the text of a value field: numbers with six significant digits, strings
// unchanged, anything else empty.
QString valueFieldText(const QJsonValue& value);

// The verdict on a typed value: ok with the tool tip "= value", or the evaluator's message.
struct ValueCheck {
    bool ok = false;
    QString toolTip;
};
ValueCheck checkValueText(const qor::model::Document& doc, const QString& text);

// The select-button text of a selection field holding `value`.
QString selectionSummary(const qor::model::Document& doc, const qor::model::ParamDef& def,
                         const QJsonValue& value, bool active);

// Whether a field of this kind takes a pick of this kind. A features field takes no viewer
// pick at all: its ids come from timeline clicks, and a face or body id is no feature id.
bool fieldTakesPick(qor::model::ParamKind fieldKind, int pickKind);
// One pick as the selection reference of a field; null for picks the field does not take.
// A bodies field turns faces, edges and vertices into their body's bare id.
QJsonValue pickToReference(qor::model::ParamKind fieldKind, const PickInfo& pick);
// Each reference toggles: an equal stored element (the last one) goes, a new one is appended.
QJsonArray toggleReferences(const QJsonValue& stored, const std::vector<QJsonValue>& picked);

// The rollback index that computes the edited feature again: -1 when none was set before
// opening, else the later of the old position and just past the feature; -1 again when that
// reaches the end of the history. featureIndex is -1 for a feature that is gone.
int rollbackIncluding(int savedRollback, int featureIndex, int featureCount);

} // namespace qor::app
