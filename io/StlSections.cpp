#include "io/StlSections.h"

#include <Message_ProgressScope.hxx>
#include <RWStl.hxx>
#include <RWStl_Reader.hxx>
#include <Standard_ReadLineBuffer.hxx>

#include <QtEndian>

#include <array>
#include <cctype>
#include <cstdint>
#include <fstream>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace qor::io {

namespace {

// Collects what the kernel's section reader finds, over all sections.
class TriangleCollector : public RWStl_Reader {
public:
    Standard_Integer AddNode(const gp_XYZ& point) override
    {
        nodes_.push_back(point);
        return Standard_Integer(nodes_.size());
    }

    void AddTriangle(Standard_Integer n1, Standard_Integer n2, Standard_Integer n3) override
    {
        triangles_.push_back({n1, n2, n3});
    }

    Handle(Poly_Triangulation) triangulation() const
    {
        if (triangles_.empty())
            return {};
        Handle(Poly_Triangulation) mesh
            = new Poly_Triangulation(int(nodes_.size()), int(triangles_.size()), false);
        for (std::size_t i = 0; i < nodes_.size(); ++i)
            mesh->SetNode(int(i) + 1, nodes_[i]);
        for (std::size_t i = 0; i < triangles_.size(); ++i)
            mesh->SetTriangle(int(i) + 1,
                              Poly_Triangle(triangles_[i][0], triangles_[i][1], triangles_[i][2]));
        return mesh;
    }

private:
    std::vector<gp_XYZ> nodes_;
    std::vector<std::array<int, 3>> triangles_;
};

// True when the line's first word is word.
bool startsWithWord(const std::string& line, const char* word)
{
    std::size_t at = 0;
    while (at < line.size() && std::isspace(static_cast<unsigned char>(line[at])))
        ++at;
    const std::string_view rest(line.data() + at, line.size() - at);
    const std::string_view wanted(word);
    return rest.substr(0, wanted.size()) == wanted
           && (rest.size() == wanted.size()
               || std::isspace(static_cast<unsigned char>(rest[wanted.size()])));
}

using Section = std::pair<std::int64_t, std::int64_t>; // from, to (bytes)

// Where each `solid` … `endsolid` section of a text STL starts and ends.
std::vector<Section> sectionsOf(std::istream& in)
{
    std::vector<Section> sections;
    std::string line;
    std::int64_t at = 0;
    bool open = false;
    while (std::getline(in, line)) {
        const std::int64_t next = at + std::int64_t(line.size()) + (in.eof() ? 0 : 1);
        if (startsWithWord(line, "solid")) {
            if (open)
                sections.back().second = at;
            sections.emplace_back(at, next);
            open = true;
        } else if (open) {
            sections.back().second = next;
            if (startsWithWord(line, "endsolid"))
                open = false;
        }
        at = next;
    }
    return sections;
}

} // namespace

bool sizedAsBinaryStl(const QByteArray& head, qint64 fileSize)
{
    constexpr qint64 headerBytes = 84;
    constexpr qint64 triangleBytes = 50;
    if (head.size() < headerBytes)
        return false;
    const quint32 declared = qFromLittleEndian<quint32>(head.constData() + 80);
    return fileSize == headerBytes + triangleBytes * qint64(declared);
}

Handle(Poly_Triangulation) readStlFile(const QByteArray& fileName, double mergeAngle,
                                       const Message_ProgressRange& range)
{
    std::ifstream in(fileName.toStdString(), std::ios::in | std::ios::binary);
    if (!in)
        return {};
    Handle(TriangleCollector) reader = new TriangleCollector;
    in.seekg(0, std::ios::end);
    const qint64 size = qint64(in.tellg());
    in.seekg(0);
    QByteArray head(84, '\0');
    in.read(head.data(), head.size());
    head.resize(qsizetype(in.gcount()));
    in.clear();
    in.seekg(0);
    if (sizedAsBinaryStl(head, size)) {
        reader->SetMergeAngle(mergeAngle);
        return reader->ReadBinary(in, range) ? reader->triangulation()
                                             : Handle(Poly_Triangulation)();
    }
    const bool text = reader->IsAscii(in, true);
    in.clear();
    in.seekg(0);
    const std::vector<Section> sections = text ? sectionsOf(in) : std::vector<Section>();
    if (sections.size() < 2)
        return RWStl::ReadFile(fileName.constData(), mergeAngle, range);

    reader->SetMergeAngle(mergeAngle);
    Message_ProgressScope progress(range, "STL", double(sections.back().second));
    for (const auto& [from, to] : sections) {
        in.clear();
        in.seekg(from);
        Standard_ReadLineBuffer buffer(4096);
        // A section cut short (its `endsolid` missing, as at the end of a file
        // written incompletely) keeps the triangles read before the cut.
        if (!reader->ReadAscii(in, buffer, std::streampos(to), progress.Next(double(to - from)))
            && progress.UserBreak())
            return {};
    }
    return reader->triangulation();
}

} // namespace qor::io
