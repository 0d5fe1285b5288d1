#include "sketch/Dof.h"
#include "view/sketch/SketchBookkeeping.h"
#include "view/sketch/SketchPrompts.h"

#include <gtest/gtest.h>

using namespace qor::app;
using qor::sketch::ConstraintType;
using qor::sketch::Sketch;

namespace {

std::size_t countOf(const Sketch& s, ConstraintType type)
{
    return std::count_if(s.constraints.begin(), s.constraints.end(),
                         [type](const qor::sketch::Constraint& c) { return c.type == type; });
}

} // namespace

TEST(SketchPrompts, ByToolAndStep)
{
    struct Case {
        PromptContext context;
        const char* prompt;
    };
    const Case cases[] = {
        {{1, 0}, "Startpunkt klicken"},
        {{1, 3}, "Nächsten Punkt klicken · Doppelklick/Esc beendet"},
        {{5, 2}, "Punkt 3 von 3 auf dem Kreis klicken"},
        {{6, 1}, "Endpunkt klicken"},
        {{6, 4}, "Punkt auf dem Bogen klicken"},
        {{9, 0, false, 6}, "Mittelpunkt klicken (6 Ecken)"},
        {{9, 1, false, 6}, "Ecke klicken"},
        {{12, 0, false, 6, 3.0}, "Ecke zweier Linien anklicken (Radius 3 mm)"},
        {{12, 0, false, 6, 2.5}, "Ecke zweier Linien anklicken (Radius 2.5 mm)"},
        {{13, 0, true}, "Maß platzieren (oder weiteres Element wählen)"},
        {{14, 0, false, 6, 3.0, ConstraintType::Parallel}, "Parallel: Elemente wählen"},
    };
    for (const Case& c : cases)
        EXPECT_EQ(promptText(c.context), QString::fromUtf8(c.prompt));
    EXPECT_TRUE(promptText({16, 0}).isNull());
    EXPECT_TRUE(promptText({-1, 0}).isNull());
}

TEST(SketchPrompts, StatusAndOverdeterminedConstraints)
{
    Sketch s;
    EXPECT_EQ(statusText(s, 0, 0), QStringLiteral("Leer – Werkzeug wählen und zeichnen"));
    const int line = int(s.addLineAt(false, 0, 0, 10, 1));
    EXPECT_EQ(statusText(s, 1, 4),
              QStringLiteral("Widersprüchlich – 1 Bedingung(en) nicht erfüllbar"));
    EXPECT_EQ(statusText(s, 0, 0), QStringLiteral("Vollständig bestimmt"));
    EXPECT_EQ(statusText(s, 0, 1), QStringLiteral("1 Freiheitsgrad offen"));
    EXPECT_EQ(statusText(s, 0, 2), QStringLiteral("2 Freiheitsgrade offen"));

    QString refusal;
    EXPECT_TRUE(addConstraintChecked(s, ConstraintType::Horizontal, line, -1, -1, 0, refusal));
    EXPECT_FALSE(addConstraintChecked(s, ConstraintType::Horizontal, line, -1, -1, 0, refusal));
    EXPECT_EQ(refusal, QStringLiteral("„Horizontal“ würde die Skizze überbestimmen"));
    EXPECT_EQ(s.constraints.size(), 1u);

    const int start = s.startPoint(line);
    s.addConstraint(ConstraintType::Fixed, start, -1, -1, 0);
    refusal.clear();
    EXPECT_FALSE(addConstraintChecked(s, ConstraintType::Fixed, start, -1, -1, 0, refusal));
    EXPECT_EQ(refusal, QStringLiteral("„Fixiert“ würde die Skizze überbestimmen"));
    EXPECT_TRUE(
        addConstraintChecked(s, ConstraintType::Fixed, s.endPoint(line), -1, -1, 0, refusal));
    EXPECT_EQ(countOf(s, ConstraintType::Fixed), 2u);
}

TEST(SketchBookkeeping, UndoKeepsTheNewest300AndPushEndsRedo)
{
    Sketch s;
    SketchHistory history;
    for (int i = 0; i < 301; ++i) {
        history.push(s);
        s.addPoint(false, i, 0);
    }
    ASSERT_EQ(history.undoStack.size(), 300u);
    Sketch oldest;
    oldest.fromJson(history.undoStack.front());
    EXPECT_EQ(oldest.entities.size(), 1u); // the empty first snapshot is gone

    ASSERT_TRUE(history.undo(s));
    EXPECT_EQ(s.entities.size(), 300u);
    ASSERT_TRUE(history.redo(s));
    EXPECT_EQ(s.entities.size(), 301u);
    EXPECT_EQ(history.undoStack.size(), 300u);
    ASSERT_TRUE(history.undo(s));
    history.push(s); // a new change after undo: no way forward any more
    EXPECT_TRUE(history.redoStack.empty());
    history.dropLast(); // ... even when the change is taken back
    EXPECT_FALSE(history.redo(s));
    EXPECT_EQ(history.undoStack.size(), 299u);

    SketchHistory empty;
    const QJsonObject before = s.toJson();
    EXPECT_FALSE(empty.undo(s));
    EXPECT_FALSE(empty.redo(s));
    EXPECT_EQ(s.toJson(), before);
}

TEST(SketchBookkeeping, SnapsBecomePointsAndConstraints)
{
    Sketch s;
    const int line = int(s.addLineAt(false, 0, 0, 10, 0));
    const int existing = s.startPoint(line);

    struct Case {
        SnapRecord snap;
        ConstraintType implied;
        bool constrained;
    };
    const Case cases[] = {
        {{SnapKind::OnCurve, 4, 0, -1, line}, ConstraintType::PointOnCurve, true},
        {{SnapKind::Midpoint, 5, 0, -1, line}, ConstraintType::Midpoint, true},
        {{SnapKind::Origin, 0, 0, -1, -1}, ConstraintType::Fixed, true},
        {{SnapKind::Free, 3, 3, -1, -1}, ConstraintType::Fixed, false},
        {{SnapKind::Horizontal, 3, 0, -1, -1}, ConstraintType::Horizontal, false},
        {{SnapKind::OnCurve, 0, 0, existing, line}, ConstraintType::PointOnCurve, false},
    };
    for (const Case& c : cases) {
        Sketch copy = s;
        const int point = pointForSnap(copy, c.snap);
        constrainToSnap(copy, point, c.snap);
        SCOPED_TRACE(int(c.snap.kind));
        if (c.snap.pointId >= 0) {
            EXPECT_EQ(point, existing);
        } else {
            EXPECT_TRUE(copy.findEntity(point)->owned);
            EXPECT_EQ(copy.pointPosition(point).x, c.snap.x);
        }
        ASSERT_EQ(copy.constraints.size(), c.constrained ? 1u : 0u);
        if (c.constrained) {
            EXPECT_EQ(copy.constraints[0].type, c.implied);
            EXPECT_EQ(copy.constraints[0].a, point);
            EXPECT_EQ(copy.constraints[0].b, c.snap.kind == SnapKind::Origin ? -1 : line);
        }
    }

    const int a = int(s.addPoint(true, 0, 5));
    const int b = int(s.addPoint(true, 9, 5));
    const int level = addSnappedLine(s, a, b, SnapRecord{SnapKind::Horizontal, 9, 5, -1, -1});
    addSnappedLine(s, a, b, SnapRecord{SnapKind::Vertical, 9, 5, -1, -1});
    addSnappedLine(s, a, existing, SnapRecord{SnapKind::Point, 0, 0, existing, -1});
    addSnappedLine(s, b, existing, std::nullopt);
    EXPECT_EQ(countOf(s, ConstraintType::Horizontal), 1u);
    EXPECT_EQ(countOf(s, ConstraintType::Vertical), 1u);
    EXPECT_EQ(s.constraints[0].a, level);
    EXPECT_FALSE(s.findEntity(level)->construction);
}

TEST(SketchBookkeeping, ConstraintPicksPutPointsFirst)
{
    Sketch s;
    const int line = int(s.addLineAt(false, 0, 0, 1, 0)); // 3
    const int p1 = int(s.addPoint(false, 5, 5)); // 4
    const int circle = int(s.addCircleAt(false, 0, 0, 1)); // 6
    const int p2 = int(s.addPoint(false, 6, 6)); // 7
    const std::vector<std::uint32_t> picks = constraintPickOrder(s, {p2, circle, line, p1});
    EXPECT_EQ(picks, (std::vector<std::uint32_t>{std::uint32_t(p1), std::uint32_t(p2),
                                                 std::uint32_t(line), std::uint32_t(circle)}));
}
