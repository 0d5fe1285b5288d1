#include "io/ThreeMfWriter.h"

#include "io/MeshFaces.h"
#include "io/Zip.h"

#include <algorithm>
#include <array>
#include <charconv>

namespace qor::io {

namespace {

const char* const xmlDeclaration = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n";

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
             "<Default Extension=\"rels\" "
             "ContentType=\"application/vnd.openxmlformats-package.relationships+xml\"/>"
             "<Default Extension=\"model\" "
             "ContentType=\"application/vnd.ms-package.3dmanufacturing-3dmodel+xml\"/>"
             "</Types>\n";
}

QByteArray relationships()
{
    return QByteArray(xmlDeclaration)
           + "<Relationships "
             "xmlns=\"http://schemas.openxmlformats.org/package/2006/relationships\">"
             "<Relationship Target=\"/3D/3dmodel.model\" Id=\"rel0\" "
             "Type=\"http://schemas.microsoft.com/3dmanufacturing/2013/01/3dmodel\"/>"
             "</Relationships>\n";
}

void appendObject(QByteArray& xml, int id, const QString& name, int pindex, const IndexedMesh& mesh)
{
    xml.append("  <object id=\"");
    appendInt(xml, id);
    xml.append("\" type=\"model\" name=\"" + escaped(name) + "\" pid=\"1\" pindex=\"");
    appendInt(xml, pindex);
    xml.append("\">\n   <mesh>\n    <vertices>\n");
    for (const gp_Pnt& v : mesh.vertices) {
        xml.append("     <vertex x=\"");
        appendFixed5(xml, v.X());
        xml.append("\" y=\"");
        appendFixed5(xml, v.Y());
        xml.append("\" z=\"");
        appendFixed5(xml, v.Z());
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
    for (std::size_t i = 0; i < bodies.size(); ++i)
        xml.append("   <base name=\"" + escaped(writtenName(bodies, i)) + "\" displaycolor=\""
                   + colourText(bodies[i]) + "\"/>\n");
    xml.append("  </basematerials>\n");

    std::vector<int> items;
    int nextId = 2;
    for (std::size_t i = 0; i < bodies.size(); ++i) {
        const IndexedMesh mesh = bodyMesh(bodies[i].shape);
        if (mesh.triangles.empty())
            continue;
        appendObject(xml, nextId, writtenName(bodies, i), int(i), mesh);
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
