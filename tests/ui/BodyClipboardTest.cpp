#include "app/BodyClipboard.h"
#include "io/ShapeText.h"
#include "model/DocumentController.h"
#include "tests/common/Seeds.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QMimeData>
#include <QRandomGenerator>

#include <BRepGProp.hxx>
#include <GProp_GProps.hxx>
#include <TopExp_Explorer.hxx>
#include <TopoDS_Compound.hxx>

#include <gtest/gtest.h>

#include <algorithm>

namespace {

const QString mimeType = QString::fromLatin1(qor::app::bodiesMimeType);

std::multiset<long> volumes(const qor::model::Document& doc) // in µm³, closed solids only
{
    std::multiset<long> result;
    for (const auto& [id, body] : doc.current.bodies) {
        GProp_GProps props;
        BRepGProp::VolumeProperties(body.shape, props, true);
        result.insert(std::lround(props.Mass() * 1000.0));
    }
    return result;
}

// A box and, apart from it, a cylinder named "Welle" with its own colour.
std::set<int> buildTwoBodies(qor::app::DocumentController& controller)
{
    qor::model::Document& doc = *controller.document;
    doc.addFeature(QStringLiteral("box"));
    doc.addFeature(QStringLiteral("cylinder"), {{"x", "200 mm"}});
    controller.commit(QStringLiteral("Körper"));
    const int cylinder = std::prev(doc.current.bodies.end())->first;
    doc.bodyNames[cylinder] = QStringLiteral("Welle");
    doc.appearance[cylinder].r = 0.1;
    return {doc.current.bodies.begin()->first, cylinder};
}

QJsonObject payloadOf(const QMimeData& data)
{
    return QJsonDocument::fromJson(data.data(mimeType)).object();
}

} // namespace

TEST(BodyClipboard, CopyAndPasteKeepBodiesNamesAndColours)
{
    qor::app::DocumentController source;
    const std::set<int> ids = buildTwoBodies(source);
    const int box = *ids.begin();
    const int cylinder = *ids.rbegin();
    TopExp_Explorer face(source.document->current.bodies.at(box).shape, TopAbs_FACE);
    // Two picks on the box, the cylinder, a sketch region and an origin plane.
    EXPECT_EQ(qor::app::pickedBodyIds(
                  {{1, box, 0, face.Current()}, {2, box}, {4, cylinder}, {9, 1}, {5, -1}}),
              ids);
    EXPECT_EQ(qor::app::copyBodies(*source.document, {4711}).message,
              QStringLiteral("Zuerst einen Körper auswählen"));

    const qor::app::CopiedBodies copied = qor::app::copyBodies(*source.document, ids);
    ASSERT_NE(copied.data, nullptr);
    EXPECT_EQ(copied.data->text(), QStringLiteral("QorCAD: 2 Körper"));
    const QJsonObject payload = payloadOf(*copied.data);
    EXPECT_EQ(payload.keys(), (QStringList{"brep", "colors", "names"}));
    EXPECT_EQ(payload.value("names").toArray().at(1), QStringLiteral("Welle"));
    EXPECT_EQ(payload.value("colors").toArray().at(1).toArray(), (QJsonArray{0.1, 0.76, 0.82}));

    // Into another document, twice: each paste one feature and one undo step.
    qor::app::DocumentController target;
    for (std::size_t round = 1; round <= 2; ++round) {
        const qor::app::PastedBodies pasted = qor::app::pasteBodies(target, copied.data.get());
        EXPECT_EQ(pasted.message,
                  QStringLiteral("2 Körper eingefügt – mit „Verschieben“ positionieren"));
        const qor::model::Feature* feature = target.document->feature(pasted.featureId);
        ASSERT_NE(feature, nullptr);
        EXPECT_EQ(feature->type + QLatin1Char('/') + feature->name + feature->error,
                  QStringLiteral("import/Eingefügt")); // no error
        EXPECT_EQ(target.history.size(), round + 1);
        EXPECT_EQ(target.undoText(), QStringLiteral("Einfügen"));
    }
    const std::multiset<long> once = volumes(*source.document);
    EXPECT_EQ(once, (std::multiset<long>{28274334, 30000000})); // π·15²·40 and 50·30·20
    std::multiset<long> twice = once;
    twice.insert(once.begin(), once.end());
    EXPECT_EQ(volumes(*target.document), twice);
    const int welle = std::next(target.document->current.bodies.begin())->first;
    EXPECT_EQ(target.document->bodyName(welle), QStringLiteral("Welle"));
    EXPECT_DOUBLE_EQ(target.document->bodyAppearance(welle).r, 0.1);
}

TEST(BodyClipboard, HostileDataIsRefusedAndLeavesTheDocumentAlone)
{
    qor::app::DocumentController source;
    QJsonObject good
        = payloadOf(*qor::app::copyBodies(*source.document, buildTwoBodies(source)).data);
    const QByteArray bytes = qor::io::shapeTextBytes(good.value("brep").toString());
    QJsonObject truncated = good;
    truncated["brep"] = QString::fromLatin1(qCompress(bytes.left(bytes.size() / 2)).toBase64());
    QJsonObject empty = good;
    empty["brep"] = qor::io::shapeToBase64(TopoDS_Compound());
    QByteArray noise(4096, '\0');
    QRandomGenerator generator(qor::test::seed(18));
    std::generate(noise.begin(), noise.end(), [&] { return char(generator.bounded(256)); });

    const QString foreign = QStringLiteral("Die Zwischenablage enthält keine QorCAD-Körper");
    const QString damaged = QStringLiteral("Die Körper in der Zwischenablage sind beschädigt");
    const std::pair<QByteArray, QString> cases[] = {
        {noise, foreign},
        {R"({"names":["A"]})", foreign},
        {R"({"brep":[1,2]})", foreign},
        {R"({"brep":")" + noise.toBase64() + R"("})", damaged},
        {QJsonDocument(truncated).toJson(), damaged},
        {QJsonDocument(empty).toJson(), damaged},
    };
    QMimeData textOnly;
    textOnly.setText(QStringLiteral("QorCAD: 2 Körper"));
    for (const auto& [data, message] : cases) {
        QMimeData mime;
        mime.setData(mimeType, data);
        for (const QMimeData* offered : {&mime, &textOnly, static_cast<QMimeData*>(nullptr)}) {
            qor::app::DocumentController target;
            const qor::app::PastedBodies pasted = qor::app::pasteBodies(target, offered);
            EXPECT_TRUE(pasted.error);
            EXPECT_EQ(pasted.message, offered == &mime ? message : foreign);
            EXPECT_TRUE(target.document->features.empty());
            EXPECT_EQ(target.history.size(), 1u);
        }
    }
}
