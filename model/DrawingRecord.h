#pragma once

#include <QJsonObject>
#include <QList>
#include <QString>

#include <map>
#include <vector>

// The drawing sheets a document stores: plain records and their JSON form. The
// drawing layer projects, dimensions and draws them; the document only keeps,
// copies and serialises them.

namespace qor::app {

// Values of Drawing::View::type.
enum class ViewKind : int {
    Front = 0,
    Top = 1,
    Bottom = 2,
    Left = 3,
    Right = 4,
    Back = 5,
    Isometric = 6,
};

// Values of Drawing::Dim::kind; any other value is drawn as Aligned.
enum class DimKind : int {
    Horizontal = 0,
    Vertical = 1,
    Aligned = 2,
    Diameter = 3,
    Radius = 4,
};

// The title-block field names in display order.
QList<QString> defaultTitleOrder();

// One drawing sheet. Positions are paper millimetres from the lower-left corner.
struct Drawing {
    struct View {
        int id = 0;
        int type = 0;
        double x = 0.0;
        double y = 0.0;
        bool hidden = true;
        bool center = true;
        QString label;
        double mul = 1.0;
        bool section = false;

        bool operator==(const View&) const = default;
    };

    struct Dim {
        int id = 0;
        int view = 0;
        int kind = 0;
        double a[2] = {0.0, 0.0};
        // For diameter and radius: b[0] is the radius in model millimetres.
        double b[2] = {0.0, 0.0};
        double offset = 10.0;
        // For diameter and radius, "@<degrees>" sets the leader angle instead.
        QString text;

        bool operator==(const Dim&) const = default;
    };

    QString format = QStringLiteral("A3");
    double scale = 1.0; // 0: the next arrangement chooses it
    QList<QString> titleOrder = defaultTitleOrder();
    std::map<QString, QString> title;
    std::vector<View> views;
    std::vector<Dim> dims;
    int nextId = 1;

    bool operator==(const Drawing&) const = default;
};

// The title-block text of a field; empty when the sheet has none.
QString titleValue(const Drawing& drawing, const QString& field);

QJsonObject drawingToJson(const Drawing& drawing);
Drawing drawingFromJson(const QJsonObject& json);

} // namespace qor::app
