#include "app/BodyClipboard.h"
#include "io/ShapeText.h"
#include "model/DocumentController.h"

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

double volumeOf(const TopoDS_Shape& shape)
{
    GProp_GProps props;
    BRepGProp::VolumeProperties(shape, props, true);
    return props.Mass();
}

std::vector<double> sortedVolumes(const qor::model::Document& doc)
{
    std::vector<double> volumes;
    for (const auto& [id, body] : doc.current.bodies)
        volumes.push_back(volumeOf(body.shape));
    std::sort(volumes.begin(), volumes.end());
    return volumes;
}

// A box and, apart from it, a coloured cylinder: two bodies.
void buildTwoBodies(qor::app::DocumentController& controller)
{
    qor::model::Document& doc = *controller.document;
    doc.addFeature(QStringLiteral("box"));
    doc.addFeature(QStringLiteral("cylinder"), {{"x", "200 mm"}});
    controller.commit(QStringLiteral("Körper"));
    const int cylinder = std::prev(doc.current.bodies.end())->first;
    doc.bodyNames[cylinder] = QStringLiteral("Welle");
    doc.appearance[cylinder].r = 0.1;
}

QJsonObject payloadOf(const QMimeData& data)
{
    return QJsonDocument::fromJson(data.data(mimeType)).object();
}

// The payload with its compound cut off halfway through the binary data.
QByteArray truncatedCompound(QJsonObject payload)
{
    const QByteArray bytes = qor::io::shapeTextBytes(payload.value("brep").toString());
    payload["brep"] = QString::fromLatin1(qCompress(bytes.left(bytes.size() / 2), 6).toBase64());
    return QJsonDocument(payload).toJson();
}

} // namespace

TEST(BodyClipboard, CopyAndPasteKeepBodiesNamesAndColours)
{
    qor::app::DocumentController source;
    buildTwoBodies(source);
    const auto& bodies = source.document->current.bodies.get();
    ASSERT_EQ(bodies.size(), 2u);
    const int box = bodies.begin()->first;
    const int cylinder = std::prev(bodies.end())->first;
    TopExp_Explorer face(bodies.at(box).shape, TopAbs_FACE);
    const std::set<int> ids = qor::app::pickedBodyIds({{1, box, 0, face.Current()},
                                                       {2, box},
                                                       {4, cylinder},
                                                       {9, 1, 0}, // a sketch region
                                                       {5, -1}}); // an origin plane
    EXPECT_EQ(ids, (std::set<int>{box, cylinder}));

    const qor::app::CopiedBodies copied = qor::app::copyBodies(*source.document, ids);
    ASSERT_NE(copied.data, nullptr);
    EXPECT_EQ(copied.data->text(), QStringLiteral("QorCAD: 2 Körper"));
    EXPECT_EQ(copied.message, QStringLiteral("2 Körper kopiert – mit Strg+V einfügen"));
    const QJsonObject payload = payloadOf(*copied.data);
    EXPECT_EQ(payload.keys(), (QStringList{"brep", "colors", "names"}));
    EXPECT_EQ(payload.value("names").toArray(),
              (QJsonArray{source.document->bodyName(box), QStringLiteral("Welle")}));
    EXPECT_EQ(payload.value("colors").toArray().at(1).toArray(), (QJsonArray{0.1, 0.76, 0.82}));

    // Into another document, twice: each paste one feature and one undo step.
    qor::app::DocumentController target;
    for (int round = 1; round <= 2; ++round) {
        const qor::app::PastedBodies pasted = qor::app::pasteBodies(target, copied.data.get());
        EXPECT_FALSE(pasted.error);
        EXPECT_EQ(pasted.message,
                  QStringLiteral("2 Körper eingefügt – mit „Verschieben“ positionieren"));
        const qor::model::Feature* feature = target.document->feature(pasted.featureId);
        ASSERT_NE(feature, nullptr);
        EXPECT_EQ(feature->type, QStringLiteral("import"));
        EXPECT_EQ(feature->name, QStringLiteral("Eingefügt"));
        EXPECT_TRUE(feature->error.isEmpty()) << feature->error.toStdString();
        EXPECT_EQ(target.history.size(), std::size_t(round) + 1);
        EXPECT_EQ(target.undoText(), QStringLiteral("Einfügen"));
    }
    const qor::model::Document& pastedDoc = *target.document;
    ASSERT_EQ(pastedDoc.current.bodies.size(), 4u);
    std::vector<double> twice = sortedVolumes(*source.document);
    twice.insert(twice.end(), twice.begin(), twice.end());
    std::sort(twice.begin(), twice.end());
    const std::vector<double> got = sortedVolumes(pastedDoc);
    for (std::size_t i = 0; i < got.size(); ++i)
        EXPECT_NEAR(got[i], twice[i], 1e-6 * twice[i]);
    const int welle = std::next(pastedDoc.current.bodies.begin())->first;
    EXPECT_EQ(pastedDoc.bodyName(welle), QStringLiteral("Welle"));
    EXPECT_DOUBLE_EQ(pastedDoc.bodyAppearance(welle).r, 0.1);

    target.undo();
    EXPECT_EQ(target.document->current.bodies.size(), 2u);
}

TEST(BodyClipboard, NothingCopyableLeavesNoData)
{
    qor::app::DocumentController controller;
    buildTwoBodies(controller);
    const qor::app::CopiedBodies copied = qor::app::copyBodies(*controller.document, {4711});
    EXPECT_EQ(copied.data, nullptr);
    EXPECT_TRUE(copied.error);
    EXPECT_EQ(copied.message, QStringLiteral("Zuerst einen Körper auswählen"));
}

TEST(BodyClipboard, HostileDataIsRefusedAndLeavesTheDocumentAlone)
{
    qor::app::DocumentController source;
    buildTwoBodies(source);
    std::set<int> all;
    for (const auto& [id, body] : source.document->current.bodies)
        all.insert(id);
    const QJsonObject good = payloadOf(*qor::app::copyBodies(*source.document, all).data);
    QByteArray noise(4096, '\0');
    QRandomGenerator generator(18);
    for (char& byte : noise)
        byte = char(generator.bounded(256));
    QJsonObject emptyCompound = good;
    emptyCompound["brep"] = qor::io::shapeToBase64(TopoDS_Compound());

    const QString noBodies = QStringLiteral("Die Zwischenablage enthält keine QorCAD-Körper");
    const QString damaged = QStringLiteral("Die Körper in der Zwischenablage sind beschädigt");
    struct Case {
        const char* what;
        const char* format; // null: only plain text
        QByteArray bytes;
        QString message;
    };
    const Case cases[] = {
        {"text only", nullptr, "QorCAD: 2 Körper", noBodies},
        {"random bytes", qor::app::bodiesMimeType, noise, noBodies},
        {"no geometry", qor::app::bodiesMimeType, R"({"names":["A"]})", noBodies},
        {"brep not text", qor::app::bodiesMimeType, R"({"brep":[1,2]})", noBodies},
        {"brep noise", qor::app::bodiesMimeType,
         R"({"brep":")" + noise.toBase64() + R"("})", damaged},
        {"truncated compound", qor::app::bodiesMimeType, truncatedCompound(good), damaged},
        {"empty compound", qor::app::bodiesMimeType, QJsonDocument(emptyCompound).toJson(),
         damaged},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        QMimeData data;
        if (c.format)
            data.setData(QString::fromLatin1(c.format), c.bytes);
        else
            data.setText(QString::fromUtf8(c.bytes));
        qor::app::DocumentController target;
        const qor::app::PastedBodies pasted = qor::app::pasteBodies(target, &data);
        EXPECT_TRUE(pasted.error);
        EXPECT_EQ(pasted.message, c.message);
        EXPECT_EQ(pasted.featureId, 0);
        EXPECT_TRUE(target.document->features.empty());
        EXPECT_EQ(target.history.size(), 1u);
    }
    qor::app::DocumentController target;
    EXPECT_EQ(qor::app::pasteBodies(target, nullptr).message, noBodies);
}
