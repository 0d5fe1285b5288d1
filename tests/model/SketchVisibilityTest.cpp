#include "model/SketchVisibility.h"
#include "model/Document.h"
#include "model/ShapeSignature.h"

#include <QJsonArray>

#include <gtest/gtest.h>

#include <optional>

using namespace qor::model;

namespace {

QJsonObject reference(const char* kind, const char* key, int sketchId)
{
    return {{QStringLiteral("kind"), QString::fromLatin1(kind)},
            {QString::fromLatin1(key), sketchId}};
}

} // namespace

TEST(SketchVisibility, ConsumersNameSketchesAtAnyDepth)
{
    Document doc;
    const int regionSketch = doc.addSketch(datumReferenceJson(-1))->id;
    const int pathSketch = doc.addSketch(datumReferenceJson(-2))->id;
    const int pointSketch = doc.addSketch(datumReferenceJson(-3))->id;
    const int free = doc.addSketch(datumReferenceJson(-1))->id;
    // A sketch may name another (a projection); that alone consumes nothing.
    doc.feature(free)->params[QStringLiteral("source")] = reference("sketch", "id", pointSketch);
    doc.addFeature(
        QStringLiteral("extrude"),
        {{QStringLiteral("profile"), QJsonArray{reference("region", "sketch", regionSketch)}}});
    doc.addFeature(QStringLiteral("sweep"),
                   {{QStringLiteral("path"),
                     QJsonObject{{QStringLiteral("edges"),
                                  QJsonArray{reference("sketchline", "sketch", pathSketch)}}}}});
    doc.addFeature(QStringLiteral("hole"),
                   {{QStringLiteral("points"), reference("sketch", "id", pointSketch)}});
    EXPECT_EQ(consumedSketches(doc), (std::set<int>{regionSketch, pathSketch, pointSketch}));
}

TEST(SketchVisibility, TheEntryDecidesAndWithoutOneTheConsumerDoes)
{
    struct Case {
        bool consumed;
        std::optional<bool> hiddenEntry;
        bool shown;
    };
    const Case cases[] = {
        {true, std::nullopt, false}, {true, false, true},  {true, true, false},
        {false, std::nullopt, true}, {false, false, true}, {false, true, false},
    };
    for (const Case& c : cases) {
        Document doc;
        const int id = doc.addSketch(datumReferenceJson(-1))->id;
        std::set<int> consumed;
        if (c.consumed)
            consumed.insert(id);
        if (c.hiddenEntry)
            doc.hidden[-id] = *c.hiddenEntry;
        // The entry of a body with the same number says the opposite and is not read.
        doc.hidden[id] = c.shown;
        EXPECT_EQ(sketchShown(doc, id, consumed), c.shown)
            << c.consumed << " " << c.hiddenEntry.value_or(-1);
    }
}
