#include "io/BinaryShapeCheck.h"

#include "io/ShapeCheckLocations.h"

#include <algorithm>
#include <array>
#include <climits>
#include <cstdint>
#include <set>
#include <utility>
#include <vector>

namespace qor::io {

namespace {

using namespace shapeCheck;

constexpr std::array<std::string_view, 4> versionLines
    = {"Open CASCADE Topology V1 (c)", "Open CASCADE Topology V2 (c)",
       "Open CASCADE Topology V3 (c)", "Open CASCADE Topology V4, (c) Open Cascade"};

// Thrown inside the walk when the data cannot be what the writer wrote.
struct Refused { };

// Record kinds, as the kernel's sets number them.
enum ShapeType { compound, compSolid, solid, shell, face, wire, edge, vertex };

// A location as the kernel keeps it: (elementary location, power) items, head first.
class Cursor {
public:
    explicit Cursor(std::string_view data)
        : data_(data)
    {
    }

    std::size_t left() const { return data_.size() - pos_; }
    std::size_t position() const { return pos_; }
    void rewind(std::size_t pos) { pos_ = pos; }

    void skip(std::uint64_t bytes)
    {
        if (bytes > left())
            throw Refused{};
        pos_ += std::size_t(bytes);
    }

    // Reals must be finite: the kernel loops for ever on a trimmed curve with a NaN
    // bound, and no shape it writes holds one.
    void reals(std::uint64_t count)
    {
        if (count > left() / 8)
            throw Refused{};
        for (std::uint64_t i = 0; i < count; ++i) {
            const std::uint32_t high = little(8, 4);
            if ((high & 0x7ff00000u) == 0x7ff00000u)
                throw Refused{};
        }
    }

    int byte()
    {
        skip(1);
        return static_cast<unsigned char>(data_[pos_ - 1]);
    }

    bool flag() { return byte() != 0; }

    // The last `keep` of the next `bytes` bytes as a little-endian number.
    std::uint32_t little(int bytes, int keep)
    {
        skip(std::uint64_t(bytes));
        std::uint32_t value = 0;
        for (int i = bytes - 1; i >= bytes - keep; --i)
            value = (value << 8) | static_cast<unsigned char>(data_[pos_ - bytes + i]);
        return value;
    }

    std::int32_t integer() { return std::int32_t(little(4, 4)); }
    int extChar() { return int(little(2, 2)); }

    // An integer that must lie in [low, high].
    int index(std::int64_t low, std::int64_t high)
    {
        const std::int32_t value = integer();
        if (value < low || value > high)
            throw Refused{};
        return value;
    }

    // What `stream >> char` sees: the next byte that is not white space.
    int charSkippingSpace()
    {
        skipSpace();
        return byte();
    }

    // A section header as `stream >> word >> count; stream.get()` reads it.
    std::int64_t header(std::string_view name)
    {
        skipSpace();
        const std::size_t start = pos_;
        while (pos_ < data_.size() && !isSpace(data_[pos_]))
            ++pos_;
        if (data_.substr(start, pos_ - start) != name)
            throw Refused{};
        skipSpace();
        if (pos_ < data_.size() && data_[pos_] == '+')
            ++pos_;
        const std::size_t digits = pos_;
        std::int64_t count = 0;
        while (pos_ < data_.size() && data_[pos_] >= '0' && data_[pos_] <= '9') {
            count = count * 10 + (data_[pos_++] - '0');
            if (count > INT_MAX)
                throw Refused{};
        }
        if (pos_ == digits)
            throw Refused{};
        skip(1);
        return count;
    }

    // The line the reader's getline(…, 100, '\n') returns, cut at a zero byte.
    std::string_view line()
    {
        const std::size_t end = data_.find('\n', pos_);
        if (end == std::string_view::npos || end - pos_ >= 99)
            throw Refused{};
        std::string_view text = data_.substr(pos_, end - pos_);
        pos_ = end + 1;
        text = text.substr(0, text.find('\0'));
        while (text.size() > 1 && text.back() == '\r')
            text.remove_suffix(1);
        return text;
    }

private:
    static bool isSpace(char c) { return c == ' ' || (c >= '\t' && c <= '\r'); }

    void skipSpace()
    {
        while (pos_ < data_.size() && isSpace(data_[pos_]))
            ++pos_;
    }

    std::string_view data_;
    std::size_t pos_ = 0;
};

// Walks the sections in the order BinTools_ShapeSet reads them.
class ShapeDataWalk {
public:
    ShapeDataWalk(std::string_view data, TriangleCorners corners)
        : in_(data)
        , corners_(corners)
    {
    }

    void run()
    {
        readVersion();
        readLocations();
        curves2d_ = readSection("Curve2ds", [this] { readCurve(2, 0); });
        curves_ = readSection("Curves", [this] { readCurve(3, 0); });
        polygons3d_ = readSection("Polygon3D", [this] { readPolygon3d(); });
        polygonsOnTriangulation_
            = readSection("PolygonOnTriangulations", [this] { readPolygonOnTriangulation(); });
        surfaces_ = readSection("Surfaces", [this] { readSurface(0); });
        triangulations_ = readSection("Triangulations", [this] { readTriangulation(); });
        readShapes();
    }

private:
    void readVersion()
    {
        for (;;) {
            const std::string_view text = in_.line();
            const auto found = std::find(versionLines.begin(), versionLines.end(), text);
            if (found != versionLines.end()) {
                version_ = int(found - versionLines.begin()) + 1;
                return;
            }
        }
    }

    // Every record takes at least one byte, so a count beyond the bytes left is false.
    template <typename ReadRecord> int readSection(std::string_view name, ReadRecord readRecord)
    {
        const std::int64_t count = in_.header(name);
        if (std::uint64_t(count) > in_.left())
            throw Refused{};
        for (std::int64_t i = 0; i < count; ++i)
            readRecord();
        return int(count);
    }

    void readLocations()
    {
        const std::int64_t count = in_.header("Locations");
        if (std::uint64_t(count) > in_.left())
            throw Refused{};
        for (std::int64_t i = 0; i < count; ++i) {
            const int type = in_.byte();
            if (type == 1) {
                in_.reals(12); // matrix rows with translation
                locations_.addElementary();
            } else if (type == 2) {
                locations_.addComposed(readComposedLocation());
            } else {
                throw Refused{};
            }
        }
    }

    shapeCheck::LocationTable::Items readComposedLocation()
    {
        shapeCheck::LocationTable::Items items;
        std::int64_t totalPower = 0;
        for (int entry = in_.index(0, INT_MAX); entry != 0; entry = in_.index(0, INT_MAX)) {
            if (!locations_.appendItem(items, totalPower, entry, in_.integer()))
                throw Refused{};
        }
        return items;
    }

    int location() { return in_.index(0, locations_.size()); }

    void nest(int depth)
    {
        if (depth > maxGeometryNesting)
            throw Refused{};
    }

    void readPoles(std::int64_t count, int dimension, bool rational)
    {
        if (count < 0)
            throw Refused{};
        in_.reals(std::uint64_t(count) * std::uint64_t(dimension + (rational ? 1 : 0)));
    }

    int readDegree()
    {
        const int degree = in_.extChar();
        if (degree > maxDegree)
            throw Refused{};
        return degree;
    }

    void readKnots(int count, int degree)
    {
        if (std::uint64_t(count) * 12 > in_.left())
            throw Refused{};
        for (int i = 0; i < count; ++i) {
            in_.reals(1);
            in_.index(1, degree + 1);
        }
    }

    // The same record kinds in the plane and in space; only the point size differs.
    void readCurve(int dimension, int depth)
    {
        nest(depth);
        const std::uint64_t point = std::uint64_t(dimension);
        // Position, then the axis (in space) and the frame's directions.
        const std::uint64_t frame = dimension == 3 ? 4 * point : 3 * point;
        switch (in_.byte()) {
        case 1: // line
            in_.reals(2 * point);
            break;
        case 2: // circle
        case 4: // parabola
            in_.reals(frame + 1);
            break;
        case 3: // ellipse
        case 5: // hyperbola
            in_.reals(frame + 2);
            break;
        case 6: { // Bezier
            const bool rational = in_.flag();
            readPoles(readDegree() + 1, dimension, rational);
            break;
        }
        case 7: { // B-spline
            const bool rational = in_.flag();
            in_.skip(1); // periodic
            const int degree = readDegree();
            const int poles = in_.index(0, INT_MAX);
            const int knots = in_.index(0, INT_MAX);
            readPoles(poles, dimension, rational);
            readKnots(knots, degree);
            break;
        }
        case 8: // trimmed
            in_.reals(2);
            readCurve(dimension, depth + 1);
            break;
        case 9: // offset: distance, and in space a direction
            in_.reals(1 + (dimension == 3 ? point : 0));
            readCurve(dimension, depth + 1);
            break;
        default: throw Refused{};
        }
    }

    void readSurface(int depth)
    {
        nest(depth);
        constexpr std::uint64_t ax3 = 4 * 3;
        switch (in_.byte()) {
        case 1: // plane
            in_.reals(ax3);
            break;
        case 2: // cylinder
        case 4: // sphere
            in_.reals(ax3 + 1);
            break;
        case 3: // cone
        case 5: // torus
            in_.reals(ax3 + 2);
            break;
        case 6: // linear extrusion
            in_.reals(3);
            readCurve(3, depth + 1);
            break;
        case 7: // revolution
            in_.reals(6);
            readCurve(3, depth + 1);
            break;
        case 8: { // Bezier
            const bool uRational = in_.flag();
            const bool rational = in_.flag() || uRational;
            const int uPoles = readDegree() + 1;
            const int vPoles = readDegree() + 1;
            readPoles(std::int64_t(uPoles) * vPoles, 3, rational);
            break;
        }
        case 9: { // B-spline
            const bool uRational = in_.flag();
            const bool rational = in_.flag() || uRational;
            in_.skip(2); // periodic in u and v
            const int uDegree = readDegree();
            const int vDegree = readDegree();
            const int uPoles = in_.index(0, INT_MAX);
            const int vPoles = in_.index(0, INT_MAX);
            const int uKnots = in_.index(0, INT_MAX);
            const int vKnots = in_.index(0, INT_MAX);
            readPoles(std::int64_t(uPoles) * vPoles, 3, rational);
            readKnots(uKnots, uDegree);
            readKnots(vKnots, vDegree);
            break;
        }
        case 10: // rectangular trimmed
            in_.reals(4);
            readSurface(depth + 1);
            break;
        case 11: // offset
            in_.reals(1);
            readSurface(depth + 1);
            break;
        default: throw Refused{};
        }
    }

    void readPolygon3d()
    {
        const int nodes = in_.index(0, INT_MAX);
        const bool parameters = in_.flag();
        in_.reals(1); // deflection
        readPoles(nodes, 3, parameters);
    }

    void readPolygonOnTriangulation()
    {
        const int nodes = in_.index(0, INT_MAX);
        if (std::uint64_t(nodes) * 4 > in_.left())
            throw Refused{};
        int highest = 0;
        for (int i = 0; i < nodes; ++i)
            highest = std::max(highest, in_.index(1, INT_MAX));
        in_.reals(1); // deflection
        if (in_.flag())
            readPoles(nodes, 1, false);
        polygonHighestNode_.push_back(highest);
    }

    void readTriangulation()
    {
        const int nodes = in_.index(0, INT_MAX);
        const int triangles = in_.index(0, INT_MAX);
        const bool uv = in_.flag();
        const bool normals = version_ >= 4 && in_.flag();
        in_.reals(1); // deflection
        const std::uint64_t bytes = std::uint64_t(nodes) * (24 + (uv ? 16 : 0) + (normals ? 12 : 0))
                                    + std::uint64_t(triangles) * 12;
        if (bytes > in_.left())
            throw Refused{};
        readPoles(nodes, uv ? 5 : 3, false);
        const bool anyCorner = corners_ == TriangleCorners::any;
        for (std::int64_t i = 0; i < std::int64_t(triangles) * 3; ++i)
            in_.index(anyCorner ? INT_MIN : 1, anyCorner ? INT_MAX : nodes);
        in_.skip(std::uint64_t(nodes) * (normals ? 12 : 0));
        triangulationNodes_.push_back(nodes);
    }

    // Versions other than 3 read a parameter before the kind and step back when the
    // byte after it is no kind; the walk reads exactly as they do.
    int readPointKind()
    {
        if (version_ == 3) {
            const int kind = in_.byte();
            if (kind >= 1 && kind <= 3)
                in_.reals(1);
            return kind;
        }
        const std::size_t start = in_.position();
        in_.skip(8);
        const int kind = in_.byte();
        in_.rewind(start);
        if (kind >= 1 && kind <= 3) { // the parameter came first
            in_.reals(1);
            in_.skip(1);
            return kind;
        }
        const int kindFirst = in_.byte();
        if (kindFirst >= 1 && kindFirst <= 3)
            in_.reals(1);
        return kindFirst;
    }

    void readVertex()
    {
        in_.reals(4); // tolerance, point
        for (int kind = readPointKind(); kind != 0; kind = readPointKind()) {
            if (kind == 1) { // on a curve
                in_.index(0, curves_);
            } else if (kind == 2) { // on a curve on a surface
                in_.index(0, curves2d_);
                in_.index(0, surfaces_);
            } else if (kind == 3) { // on a surface
                in_.reals(1);
                in_.index(0, surfaces_);
            } else {
                throw Refused{};
            }
            location();
        }
    }

    void readContinuity()
    {
        if (in_.byte() > 6)
            throw Refused{};
    }

    void readPolygonOnTriangulationReference(bool closed)
    {
        const int first = in_.index(1, polygonsOnTriangulation_);
        const int second = closed ? in_.index(1, polygonsOnTriangulation_) : first;
        const int triangulation = in_.index(1, triangulations_);
        const int nodes = triangulationNodes_[triangulation - 1];
        if (polygonHighestNode_[first - 1] > nodes || polygonHighestNode_[second - 1] > nodes)
            throw Refused{};
        location();
    }

    void readEdge()
    {
        in_.reals(1); // tolerance
        in_.skip(3); // same parameter, same range, degenerated
        for (int kind = in_.byte(); kind != 0; kind = in_.byte()) {
            switch (kind) {
            case 1: // 3D curve and its range
                in_.index(0, curves_);
                location();
                in_.reals(2);
                break;
            case 2: // curve on a surface
            case 3: // curve on a closed surface
                in_.index(0, curves2d_);
                if (kind == 3) {
                    in_.index(0, curves2d_);
                    readContinuity();
                }
                in_.index(0, surfaces_);
                location();
                in_.reals(2 + (version_ == 2 || version_ == 3 ? 4 : 0));
                break;
            case 4: // regularity between two surfaces
                readContinuity();
                in_.index(0, surfaces_);
                location();
                in_.index(0, surfaces_);
                location();
                break;
            case 5: // polygon
                in_.index(1, polygons3d_);
                location();
                break;
            case 6:
            case 7: readPolygonOnTriangulationReference(kind == 7); break;
            default: throw Refused{};
            }
        }
    }

    void readFace()
    {
        in_.skip(1); // natural restriction
        in_.reals(1); // tolerance
        in_.index(0, surfaces_);
        location();
        const int mesh = in_.byte();
        if (mesh == 2)
            in_.index(1, triangulations_);
        else if (mesh > 2)
            throw Refused{};
    }

    // A reference to an earlier shape; the null reference ends a list. Returns the
    // nesting depth of the shape referred to, or -1 for the end.
    int readShapeReference(int shapeCount, int earlier)
    {
        const int orientation = in_.charSkippingSpace();
        if (orientation == '*')
            return -1;
        if (orientation > 3)
            throw Refused{};
        const std::int64_t index = shapeCount - std::int64_t(in_.integer()) + 1;
        if (index < 1 || index > earlier)
            throw Refused{};
        location();
        return shapeDepth_[std::size_t(index - 1)];
    }

    void readShapes()
    {
        const std::int64_t count = in_.header("TShapes");
        // Type, seven flags and the end of the sub-shape list.
        if (std::uint64_t(count) * 9 > in_.left())
            throw Refused{};
        const int shapeCount = int(count);
        shapeDepth_.reserve(std::size_t(shapeCount));
        for (int i = 0; i < shapeCount; ++i) {
            switch (in_.byte()) {
            case vertex: readVertex(); break;
            case edge: readEdge(); break;
            case face: readFace(); break;
            case compound:
            case compSolid:
            case solid:
            case shell:
            case wire: break;
            default: throw Refused{};
            }
            in_.skip(7); // flags
            int depth = 0;
            for (int sub = readShapeReference(shapeCount, i); sub >= 0;
                 sub = readShapeReference(shapeCount, i))
                depth = std::max(depth, sub + 1);
            if (depth > maxShapeNesting)
                throw Refused{};
            shapeDepth_.push_back(depth);
        }
        // The shape itself; a null one is sound as well.
        readShapeReference(shapeCount, shapeCount);
    }

    Cursor in_;
    TriangleCorners corners_;
    int version_ = 0;
    shapeCheck::LocationTable locations_;
    int curves2d_ = 0;
    int curves_ = 0;
    int polygons3d_ = 0;
    int polygonsOnTriangulation_ = 0;
    std::vector<int> polygonHighestNode_;
    int surfaces_ = 0;
    int triangulations_ = 0;
    std::vector<int> triangulationNodes_;
    std::vector<int> shapeDepth_;
};

} // namespace

bool isSoundBinaryShape(std::string_view data, TriangleCorners corners)
{
    try {
        ShapeDataWalk(data, corners).run();
        return true;
    } catch (const Refused&) {
        return false;
    }
}

} // namespace qor::io
