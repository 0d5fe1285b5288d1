#include "io/PlyWriter.h"

#include "io/MeshFaces.h"

#include <QFile>

#include <algorithm>
#include <array>
#include <charconv>

namespace qor::io {

namespace {

// One face's triangulation in world coordinates, wound so that it faces out.
struct FaceMesh {
    std::vector<gp_Pnt> nodes;
    std::vector<gp_Dir> normals;
    std::vector<std::array<int, 3>> triangles; // indices into nodes, from 0
    int body = 0;
};

std::vector<FaceMesh> collectFaces(const std::vector<ExportBody>& bodies)
{
    std::vector<FaceMesh> faces;
    for (std::size_t b = 0; b < bodies.size(); ++b) {
        for (FaceTriangles& triangulated : triangulatedFaces(bodies[b].shape)) {
            if (triangulated.triangles.empty())
                continue;
            // Taken from the already oriented triangles, so reversed faces need no
            // extra care.
            FaceMesh mesh;
            mesh.normals = facetNormals(triangulated);
            mesh.nodes = std::move(triangulated.nodes);
            mesh.triangles = std::move(triangulated.triangles);
            mesh.body = int(b);
            faces.push_back(std::move(mesh));
        }
    }
    return faces;
}

void appendNumber(QByteArray& out, float v)
{
    char buf[32];
    const auto res = std::to_chars(buf, buf + sizeof buf, v);
    out.append(buf, res.ptr - buf);
}

void appendNumber(QByteArray& out, long long v)
{
    char buf[24];
    const auto res = std::to_chars(buf, buf + sizeof buf, v);
    out.append(buf, res.ptr - buf);
}

// A header comment must stay on its line.
QByteArray oneLine(const QString& text)
{
    QByteArray bytes = text.toUtf8();
    std::replace_if(
        bytes.begin(), bytes.end(), [](char c) { return c == '\n' || c == '\r'; }, ' ');
    return bytes;
}

QByteArray header(const std::vector<FaceMesh>& faces, const QString& author)
{
    long long vertices = 0;
    long long triangles = 0;
    for (const FaceMesh& f : faces) {
        vertices += qint64(f.nodes.size());
        triangles += qint64(f.triangles.size());
    }
    QByteArray text("ply\nformat ascii 1.0\n");
    if (!author.isEmpty())
        text.append("comment Author: " + oneLine(author) + '\n');
    text.append("comment Software: QorCAD\nelement vertex ");
    appendNumber(text, vertices);
    text.append("\nproperty float x\nproperty float y\nproperty float z\n"
                "property float nx\nproperty float ny\nproperty float nz\n"
                "property uchar red\nproperty uchar green\nproperty uchar blue\n"
                "element face ");
    appendNumber(text, triangles);
    text.append("\nproperty list uchar int vertex_indices\nproperty int SurfaceId\nend_header\n");
    return text;
}

// Writes in pieces so that a large mesh never sits in memory as text.
class ChunkedFile {
public:
    explicit ChunkedFile(const QString& path)
        : file_(path)
    {
    }

    bool open() { return file_.open(QIODevice::WriteOnly | QIODevice::Truncate); }
    QByteArray& buffer() { return buffer_; }

    void flushIfFull()
    {
        if (buffer_.size() >= 1 << 20)
            flush();
    }

    bool finish()
    {
        flush();
        file_.close();
        return ok_ && file_.error() == QFileDevice::NoError;
    }

private:
    void flush()
    {
        if (ok_ && file_.write(buffer_) != buffer_.size())
            ok_ = false;
        buffer_.clear();
    }

    QFile file_;
    QByteArray buffer_;
    bool ok_ = true;
};

} // namespace

bool writePly(const QString& path, const std::vector<ExportBody>& bodies, const QString& author)
{
    const std::vector<FaceMesh> faces = collectFaces(bodies);
    ChunkedFile out(path);
    if (!out.open())
        return false;
    out.buffer() = header(faces, author);

    for (const FaceMesh& f : faces) {
        const ExportBody& body = bodies[std::size_t(f.body)];
        QByteArray colour = ' ' + QByteArray::number(colourByte(body.r)) + ' '
                            + QByteArray::number(colourByte(body.g)) + ' '
                            + QByteArray::number(colourByte(body.b)) + '\n';
        for (std::size_t i = 0; i < f.nodes.size(); ++i) {
            QByteArray& text = out.buffer();
            const gp_Pnt& p = f.nodes[i];
            const gp_Dir& n = f.normals[i];
            for (double v : {p.X(), p.Y(), p.Z(), n.X(), n.Y(), n.Z()}) {
                appendNumber(text, float(v));
                text.append(' ');
            }
            text.chop(1);
            text.append(colour);
            out.flushIfFull();
        }
    }

    long long first = 0;
    for (const FaceMesh& f : faces) {
        for (const auto& t : f.triangles) {
            QByteArray& text = out.buffer();
            text.append('3');
            for (int i : t) {
                text.append(' ');
                appendNumber(text, first + i);
            }
            text.append(' ');
            appendNumber(text, static_cast<long long>(f.body));
            text.append('\n');
            out.flushIfFull();
        }
        first += qint64(f.nodes.size());
    }
    return out.finish();
}

} // namespace qor::io
