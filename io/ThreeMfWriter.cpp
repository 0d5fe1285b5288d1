#include "io/ThreeMfWriter.h"

#include "io/MeshFaces.h"
#include "io/Zip.h"

#include <array>
#include <charconv>
#include <cmath>
#include <map>

namespace qor::io {

namespace {

const char* const xmlDeclaration = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n";

struct BodyMesh {
    std::vector<std::array<double, 3>> vertices;
    std::vector<std::array<int, 3>> triangles;
};

// Shared corners of adjacent faces become one vertex: nodes are merged on a
// grid of 0.00001 mm, and a triangle whose corners merged is dropped.
BodyMesh meshOf(const TopoDS_Shape& shape)
{
    BodyMesh mesh;
    std::map<std::array<long long, 3>, int> index;
    std::vector<int> nodeVertex;
    for (const FaceTriangles& face : triangulatedFaces(shape)) {
        nodeVertex.clear();
        for (const gp_Pnt& p : face.nodes) {
            const std::array<long long, 3> key{std::llround(100000.0 * p.X()),
                                               std::llround(100000.0 * p.Y()),
                                               std::llround(100000.0 * p.Z())};
            const auto [it, added] = index.try_emplace(key, int(mesh.vertices.size()));
            if (added)
                mesh.vertices.push_back({p.X(), p.Y(), p.Z()});
            nodeVertex.push_back(it->second);
        }
        for (const auto& t : face.triangles) {
            const int a = nodeVertex[std::size_t(t[0])];
            const int b = nodeVertex[std::size_t(t[1])];
            const int c = nodeVertex[std::size_t(t[2])];
            if (a != b && b != c && a != c)
                mesh.triangles.push_back({a, b, c});
        }
    }
    return mesh;
}

// Attribute text: the markup characters as entities, and the control
// characters XML 1.0 cannot carry at all left out.
QByteArray escaped(const QString& text)
{
    QByteArray out;
    for (const char c : text.toUtf8()) {
        switch (c) {
        case '&': out.append("&amp;"); break;
        case '<': out.append("&lt;"); break;
        case '>': out.append("&gt;"); break;
        case '"': out.append("&quot;"); break;
        default:
            if (static_cast<unsigned char>(c) >= 0x20 || c == '\t' || c == '\n' || c == '\r')
                out.append(c);
        }
    }
    return out;
}

QByteArray colourText(const ExportBody& body)
{
    QByteArray text("#");
    for (double c : {body.r, body.g, body.b})
        text.append(QByteArray::number(colourByte(c), 16).rightJustified(2, '0').toUpper());
    return text;
}

void appendFixed5(QByteArray& out, double v)
{
    char buf[400];
    const auto res = std::to_chars(buf, buf + sizeof buf, v, std::chars_format::fixed, 5);
    out.append(buf, res.ptr - buf);
}

void appendInt(QByteArray& out, long long v)
{
    char buf[24];
    const auto res = std::to_chars(buf, buf + sizeof buf, v);
    out.append(buf, res.ptr - buf);
}

QByteArray contentTypes()
{
    return QByteArray(xmlDeclaration)
        + "<Types xmlns=\"http://schemas.openxmlformats.org/package/2006/content-types\">"
          "<Default Extension=\"rels\" ContentType=\"application/vnd.openxmlformats-package.relationships+xml\"/>"
          "<Default Extension=\"model\" ContentType=\"application/vnd.ms-package.3dmanufacturing-3dmodel+xml\"/>"
          "</Types>\n";
}

QByteArray relationships()
{
    return QByteArray(xmlDeclaration)
        + "<Relationships xmlns=\"http://schemas.openxmlformats.org/package/2006/relationships\">"
          "<Relationship Target=\"/3D/3dmodel.model\" Id=\"rel0\" "
          "Type=\"http://schemas.microsoft.com/3dmanufacturing/2013/01/3dmodel\"/>"
          "</Relationships>\n";
}

void appendObject(QByteArray& xml, int id, const ExportBody& body, int pindex, const BodyMesh& mesh)
{
    xml.append("  <object id=\"");
    appendInt(xml, id);
    xml.append("\" type=\"model\" name=\"" + escaped(body.name) + "\" pid=\"1\" pindex=\"");
    appendInt(xml, pindex);
    xml.append("\">\n   <mesh>\n    <vertices>\n");
    for (const auto& v : mesh.vertices) {
        xml.append("     <vertex x=\"");
        appendFixed5(xml, v[0]);
        xml.append("\" y=\"");
        appendFixed5(xml, v[1]);
        xml.append("\" z=\"");
        appendFixed5(xml, v[2]);
        xml.append("\"/>\n");
    }
    xml.append("    </vertices>\n    <triangles>\n");
    for (const auto& t : mesh.triangles) {
        xml.append("     <triangle v1=\"");
        appendInt(xml, t[0]);
        xml.append("\" v2=\"");
        appendInt(xml, t[1]);
        xml.append("\" v3=\"");
        appendInt(xml, t[2]);
        xml.append("\"/>\n");
    }
    xml.append("    </triangles>\n   </mesh>\n  </object>\n");
}

QByteArray modelPart(const std::vector<ExportBody>& bodies)
{
    QByteArray xml(xmlDeclaration);
    xml.append("<model unit=\"millimeter\" xml:lang=\"de-DE\" "
               "xmlns=\"http://schemas.microsoft.com/3dmanufacturing/core/2015/02\">\n"
               " <metadata name=\"Application\">QorCAD</metadata>\n"
               " <resources>\n"
               "  <basematerials id=\"1\">\n");
    for (const ExportBody& body : bodies)
        xml.append("   <base name=\"" + escaped(body.name) + "\" displaycolor=\"" + colourText(body)
                   + "\"/>\n");
    xml.append("  </basematerials>\n");

    std::vector<int> items;
    int nextId = 2;
    for (std::size_t i = 0; i < bodies.size(); ++i) {
        const BodyMesh mesh = meshOf(bodies[i].shape);
        if (mesh.triangles.empty())
            continue;
        appendObject(xml, nextId, bodies[i], int(i), mesh);
        items.push_back(nextId++);
    }

    xml.append(" </resources>\n <build>\n");
    for (int id : items) {
        xml.append("  <item objectid=\"");
        appendInt(xml, id);
        xml.append("\"/>\n");
    }
    xml.append(" </build>\n</model>\n");
    return xml;
}

} // namespace

QByteArray write3mf(const std::vector<ExportBody>& bodies)
{
    ZipWriter zip;
    zip.add(QStringLiteral("[Content_Types].xml"), contentTypes(), true);
    zip.add(QStringLiteral("_rels/.rels"), relationships(), true);
    zip.add(QStringLiteral("3D/3dmodel.model"), modelPart(bodies), true);
    return zip.finish();
}

} // namespace qor::io
