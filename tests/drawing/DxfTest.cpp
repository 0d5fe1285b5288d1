#include "drawing/Dimensions.h"
#include "drawing/DxfWriter.h"
#include "tests/common/DxfAudit.h"
#include "tests/drawing/PlateWithHole.h"

#include <QTemporaryDir>

#include <gtest/gtest.h>

namespace {

using qor::app::Drawing;

const QStringList layerTable{QStringLiteral("SICHTBAR"),     QStringLiteral("VERDECKT"),
                             QStringLiteral("MITTELLINIEN"), QStringLiteral("BEMASSUNG"),
                             QStringLiteral("RAHMEN"),       QStringLiteral("TEXT"),
                             QStringLiteral("GEWINDE"),      QStringLiteral("SCHRAFFUR")};

// Entities of a DXF text as "TYPE@layer", in file order.
QStringList entities(const QByteArray& dxf)
{
    const QList<QByteArray> lines = dxf.split('\n');
    const qsizetype start = lines.indexOf("ENTITIES");
    QStringList out;
    for (qsizetype i = start + 1; i + 3 < lines.size(); i += 2) {
        if (lines[i] == "0" && lines[i + 1] != "ENDSEC" && lines[i + 2] == "8")
            out << QString::fromLatin1(lines[i + 1] + '@' + lines[i + 3]);
    }
    return out;
}

qor::test::DxfAudit audit(const QByteArray& dxf)
{
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("sheet.dxf"));
    if (!qor::test::writeFile(path, dxf))
        return {};
    return qor::test::auditDxf(path);
}

TEST(Dxf, StringsLoseControlCharactersAndKeepLatin1)
{
    struct Case {
        QString text;
        QByteArray bytes;
    };
    for (const Case& c : {Case{QStringLiteral("Maß–Teil"), QByteArray("Ma\xdf?Teil")},
                          Case{QStringLiteral("a\r\nb\tc\x01"), QByteArray("a  b c ")},
                          Case{QStringLiteral("⌀10 \U0001F600"), QByteArray("%%c10 ?")}})
        EXPECT_EQ(qor::io::dxfString(c.text), c.bytes) << c.text.toStdString();
}

// A line feed in a title value would end the value and shift every later pair.
TEST(Dxf, EmptySheetHasFrameTitleTextsAndLayerTable)
{
    qor::model::Document doc;
    qor::app::ProjectionCache cache;
    Drawing sheet;
    sheet.title[QStringLiteral("Benennung")] = QStringLiteral("Maß–Teil");
    sheet.title[QStringLiteral("Firma")] = QStringLiteral("Zeile 1\nZeile 2");
    const QByteArray dxf = qor::app::drawingDxf(cache, doc, sheet);

    const QStringList rectangle = QStringList{QStringLiteral("POLYLINE@RAHMEN")}
                                  + QStringList(5, QStringLiteral("VERTEX@RAHMEN"))
                                  + QStringList{QStringLiteral("SEQEND@RAHMEN")};
    EXPECT_EQ(entities(dxf), rectangle + rectangle + QStringList(5, QStringLiteral("TEXT@TEXT")));
    EXPECT_TRUE(dxf.contains("\n1\nMa\xdf?Teil\n"));
    EXPECT_TRUE(dxf.contains("\n1\nZeile 1 Zeile 2\n50\n"));
    EXPECT_TRUE(dxf.endsWith("0\nENDSEC\n0\nEOF\n"));

    const auto result = audit(dxf);
    ASSERT_TRUE(result.ran) << result.report.toStdString();
    EXPECT_EQ(result.errors, 0) << result.report.toStdString();
    EXPECT_EQ(result.layers.mid(0, 8), layerTable);
}

TEST(Dxf, ViewsGoToTheirLayersWithEveryDimension)
{
    const qor::model::Document doc = qor::test::plateWithHole();
    qor::app::ProjectionCache cache;
    Drawing sheet;
    for (const int kind : {0, 1}) {
        Drawing::View& view = sheet.views.emplace_back();
        view.id = sheet.nextId++;
        view.type = kind;
        view.x = 120;
        view.y = kind == 0 ? 220 : 120;
        view.section = kind == 0;
    }
    qor::app::autoDimension(cache, doc, sheet);
    const QByteArray dxf = qor::app::drawingDxf(cache, doc, sheet);

    const QStringList found = entities(dxf);
    // Two linear dimensions per view of three lines and a text each, and the hole's
    // diameter as a leader, a shoulder and its text.
    EXPECT_EQ(found.count(QStringLiteral("TEXT@BEMASSUNG")), 5);
    EXPECT_EQ(found.count(QStringLiteral("LINE@BEMASSUNG")), 14);
    EXPECT_TRUE(dxf.contains("\n1\n%%c10\n"));
    EXPECT_GT(found.count(QStringLiteral("LINE@SCHRAFFUR")), 10);
    EXPECT_EQ(found.count(QStringLiteral("CIRCLE@SICHTBAR")), 1);
    EXPECT_TRUE(found.contains(QStringLiteral("LINE@MITTELLINIEN")));
    EXPECT_TRUE(dxf.contains("\n1\n100\n"));
}

} // namespace
