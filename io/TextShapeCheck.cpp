#include "io/TextShapeCheck.h"

#include "io/ShapeCheckLocations.h"

#include <algorithm>
#include <array>
#include <cfloat>
#include <charconv>
#include <climits>
#include <cmath>
#include <cstdint>
#include <set>
#include <utility>
#include <vector>

namespace qor::io {

namespace {

using namespace shapeCheck;

constexpr std::array<std::string_view, 3> versionLines
    = {"CASCADE Topology V1, (c) Matra-Datavision", "CASCADE Topology V2, (c) Matra-Datavision",
       "CASCADE Topology V3, (c) Open Cascade"};

// The reader takes words into buffers of 255 characters with the terminator.
constexpr std::size_t maxWord = 254;
// It takes the two lines after a face with getline(…, 256).
constexpr std::size_t maxFaceLine = 254;

constexpr std::array<std::string_view, 8> shapeWords
    = {"Co", "CS", "So", "Sh", "Fa", "Wi", "Ed", "Ve"};
constexpr std::array<std::string_view, 7> regularityWords
    = {"C0", "C1", "C2", "C3", "CN", "G1", "G2"};

// Thrown inside the walk when the text cannot be what the writer wrote.
struct Refused { };

// Record kinds, in the order of the words above.
enum ShapeType { compound, compSolid, solid, shell, face, wire, edge, vertex };

bool isSpace(char c)
{
    return c == ' ' || (c >= '\t' && c <= '\r');
}

// Reads as the kernel's stream does: integers digit by digit up to the first other
// character (its writer glues a regularity to the index before it), reals and
// names as whole words.
class TextCursor {
public:
    explicit TextCursor(std::string_view text)
        : text_(text)
    {
    }

    std::size_t left() const { return text_.size() - pos_; }

    // Refuses a count of records with `numbers` numbers each that the rest cannot
    // hold: every number takes a character and a separator.
    void fits(std::int64_t count, std::int64_t numbers) const
    {
        if (count < 0 || std::uint64_t(count) * std::uint64_t(numbers) > (left() + 1) / 2)
            throw Refused{};
    }

    std::string_view word()
    {
        skipSpace();
        const std::size_t start = pos_;
        while (pos_ < text_.size() && !isSpace(text_[pos_]))
            ++pos_;
        if (pos_ == start || pos_ - start > maxWord)
            throw Refused{};
        return text_.substr(start, pos_ - start);
    }

    void expect(std::string_view name)
    {
        if (word() != name)
            throw Refused{};
    }

    // An integer that must lie in [low, high].
    int integer(std::int64_t low, std::int64_t high)
    {
        skipSpace();
        bool negative = false;
        if (pos_ < text_.size() && (text_[pos_] == '-' || text_[pos_] == '+'))
            negative = text_[pos_++] == '-';
        const std::size_t digits = pos_;
        std::int64_t value = 0;
        while (pos_ < text_.size() && text_[pos_] >= '0' && text_[pos_] <= '9') {
            value = value * 10 + (text_[pos_++] - '0');
            if (value > std::int64_t(INT_MAX) + 1)
                throw Refused{};
        }
        value = negative ? -value : value;
        if (pos_ == digits || value < low || value > high)
            throw Refused{};
        return int(value);
    }

    bool flag() { return integer(0, 1) != 0; }

    // A finite number; the kernel loops for ever on a trimmed curve with a NaN bound.
    double real()
    {
        const std::string_view text = word();
        double value = 0;
        const auto [end, fault] = std::from_chars(text.data(), text.data() + text.size(), value);
        const bool underflow = fault == std::errc::result_out_of_range
                               && (text.find("e-") != std::string_view::npos
                                   || text.find("E-") != std::string_view::npos);
        if (end != text.data() + text.size() || (fault != std::errc() && !underflow)
            || !std::isfinite(value))
            throw Refused{};
        return value;
    }

    void reals(std::int64_t count)
    {
        fits(count, 1);
        for (std::int64_t i = 0; i < count; ++i)
            real();
    }

    // The rest of the line as getline(…, 256) takes it.
    std::string_view line()
    {
        const std::size_t end = text_.find('\n', pos_);
        if (end == std::string_view::npos || end - pos_ > maxFaceLine)
            throw Refused{};
        const std::string_view text = text_.substr(pos_, end - pos_);
        pos_ = end + 1;
        return text;
    }

    // A line as the version search's getline(…, 100) takes it, without the '\r'
    // its comparison ignores.
    std::string_view headerLine()
    {
        const std::size_t end = text_.find('\n', pos_);
        if (end == std::string_view::npos || end - pos_ >= 99)
            throw Refused{};
        std::string_view text = text_.substr(pos_, end - pos_);
        pos_ = end + 1;
        text = text.substr(0, text.find('\0'));
        while (text.size() > 1 && text.back() == '\r')
            text.remove_suffix(1);
        return text;
    }

private:
    void skipSpace()
    {
        while (pos_ < text_.size() && isSpace(text_[pos_]))
            ++pos_;
    }

    std::string_view text_;
    std::size_t pos_ = 0;
};

bool isBlank(std::string_view text)
{
    return std::all_of(text.begin(), text.end(), isSpace);
}

// Walks the tables in the order BRepTools_ShapeSet reads them.
class TextShapeWalk {
public:
    explicit TextShapeWalk(std::string_view text)
        : in_(text)
    {
    }

    void run()
    {
        readVersion();
        readLocations();
        curves2d_ = readTable("Curve2ds", [this] { readCurve(2, 0); });
        curves_ = readTable("Curves", [this] { readCurve(3, 0); });
        polygons3d_ = readTable("Polygon3D", [this] { readPolygon3d(); });
        polygonsOnTriangulation_
            = readTable("PolygonOnTriangulations", [this] { readPolygonOnTriangulation(); });
        surfaces_ = readTable("Surfaces", [this] { readSurface(0); });
        triangulations_ = readTable("Triangulations", [this] { readTriangulation(); });
        readShapes();
    }

private:
    void readVersion()
    {
        for (;;) {
            const std::string_view text = in_.headerLine();
            const auto found = std::find(versionLines.begin(), versionLines.end(), text);
            if (found != versionLines.end()) {
                version_ = int(found - versionLines.begin()) + 1;
                return;
            }
        }
    }

    template <typename ReadRecord> int readTable(std::string_view name, ReadRecord readRecord)
    {
        in_.expect(name);
        const int count = in_.integer(0, INT_MAX);
        in_.fits(count, 1);
        for (int i = 0; i < count; ++i)
            readRecord();
        return count;
    }

    void readLocations()
    {
        in_.expect("Locations");
        const int count = in_.integer(0, INT_MAX);
        in_.fits(count, 1);
        for (int i = 0; i < count; ++i) {
            if (in_.integer(1, 2) == 1) {
                in_.reals(12); // matrix rows with translation
                locations_.addElementary();
            } else {
                locations_.addComposed(readComposedLocation());
            }
        }
    }

    shapeCheck::LocationTable::Items readComposedLocation()
    {
        shapeCheck::LocationTable::Items items;
        std::int64_t totalPower = 0;
        for (int entry = in_.integer(0, INT_MAX); entry != 0; entry = in_.integer(0, INT_MAX)) {
            if (!locations_.appendItem(items, totalPower, entry, in_.integer(INT_MIN, INT_MAX)))
                throw Refused{};
        }
        return items;
    }

    void location() { in_.integer(0, locations_.size()); }

    void nest(int depth)
    {
        if (depth > maxGeometryNesting)
            throw Refused{};
    }

    // A direction the kernel can normalise: a zero one throws in the middle of the
    // record and the reader goes on from wherever it stopped.
    void direction(int dimension)
    {
        double squares = 0;
        for (int i = 0; i < dimension; ++i) {
            const double value = in_.real();
            squares += value * value;
        }
        if (std::sqrt(squares) <= DBL_MIN)
            throw Refused{};
    }

    // A frame: origin and two directions in the plane, three in space.
    void frame(int dimension)
    {
        in_.reals(dimension);
        for (int i = 0; i < dimension; ++i)
            direction(dimension);
    }

    // Arrays sized below one throw before their numbers are read, which leaves the
    // reader in the middle of the record as well.
    void readPoles(std::int64_t count, int dimension, bool rational)
    {
        if (count < 1)
            throw Refused{};
        in_.reals(count * (dimension + (rational ? 1 : 0)));
    }

    int readDegree() { return in_.integer(0, maxDegree); }

    void readKnots(int count, int degree)
    {
        if (count < 1)
            throw Refused{};
        in_.fits(count, 2);
        for (int i = 0; i < count; ++i) {
            in_.real();
            in_.integer(1, degree + 1);
        }
    }

    // The same record kinds in the plane and in space; only the point size differs.
    void readCurve(int dimension, int depth)
    {
        nest(depth);
        switch (in_.integer(1, 9)) {
        case 1: // line
            in_.reals(dimension);
            direction(dimension);
            break;
        case 2: // circle
        case 4: // parabola
            frame(dimension);
            in_.reals(1);
            break;
        case 3: // ellipse
        case 5: // hyperbola
            frame(dimension);
            in_.reals(2);
            break;
        case 6: { // Bezier
            const bool rational = in_.flag();
            readPoles(readDegree() + 1, dimension, rational);
            break;
        }
        case 7: { // B-spline
            const bool rational = in_.flag();
            in_.flag(); // periodic
            const int degree = readDegree();
            const int poles = in_.integer(1, INT_MAX);
            const int knots = in_.integer(1, INT_MAX);
            readPoles(poles, dimension, rational);
            readKnots(knots, degree);
            break;
        }
        case 8: // trimmed
            in_.reals(2);
            readCurve(dimension, depth + 1);
            break;
        case 9: // offset: distance, and in space a direction
            in_.reals(1);
            if (dimension == 3)
                direction(3);
            readCurve(dimension, depth + 1);
            break;
        }
    }

    void readSurface(int depth)
    {
        nest(depth);
        switch (in_.integer(1, 11)) {
        case 1: // plane
            frame(3);
            break;
        case 2: // cylinder
        case 4: // sphere
            frame(3);
            in_.reals(1);
            break;
        case 3: // cone
        case 5: // torus
            frame(3);
            in_.reals(2);
            break;
        case 6: // linear extrusion
            direction(3);
            readCurve(3, depth + 1);
            break;
        case 7: // revolution
            in_.reals(3);
            direction(3);
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
            in_.flag(); // periodic in u
            in_.flag(); // and in v
            const int uDegree = readDegree();
            const int vDegree = readDegree();
            const int uPoles = in_.integer(1, INT_MAX);
            const int vPoles = in_.integer(1, INT_MAX);
            const int uKnots = in_.integer(1, INT_MAX);
            const int vKnots = in_.integer(1, INT_MAX);
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
        }
    }

    void readPolygon3d()
    {
        const int nodes = in_.integer(1, INT_MAX);
        const bool parameters = in_.flag();
        in_.reals(1); // deflection
        in_.fits(nodes, parameters ? 4 : 3);
        in_.reals(std::int64_t(nodes) * 3);
        if (parameters)
            in_.reals(nodes);
    }

    void readPolygonOnTriangulation()
    {
        const int nodes = in_.integer(1, INT_MAX);
        in_.fits(nodes, 1);
        int highest = 0;
        for (int i = 0; i < nodes; ++i)
            highest = std::max(highest, in_.integer(1, INT_MAX));
        in_.expect("p");
        in_.reals(1); // deflection
        if (in_.flag())
            in_.reals(nodes);
        polygonHighestNode_.push_back(highest);
    }

    void readTriangulation()
    {
        const int nodes = in_.integer(0, INT_MAX);
        const int triangles = in_.integer(0, INT_MAX);
        const bool uv = in_.flag();
        const bool normals = version_ >= 3 && in_.flag();
        in_.reals(1); // deflection
        in_.fits(std::int64_t(nodes) * (3 + (uv ? 2 : 0) + (normals ? 3 : 0))
                     + std::int64_t(triangles) * 3,
                 1);
        in_.reals(std::int64_t(nodes) * (uv ? 5 : 3));
        // Corners naming missing nodes are read as they are: the exports leave
        // such triangles out.
        for (std::int64_t i = 0; i < std::int64_t(triangles) * 3; ++i)
            in_.integer(INT_MIN, INT_MAX);
        if (normals)
            in_.reals(std::int64_t(nodes) * 3);
        triangulationNodes_.push_back(nodes);
    }

    void readVertex()
    {
        in_.reals(4); // tolerance, point
        for (;;) {
            in_.real(); // parameter
            const int kind = in_.integer(0, 3);
            if (kind == 0)
                return;
            if (kind == 1) { // on a curve
                in_.integer(0, curves_);
            } else if (kind == 2) { // on a curve on a surface
                in_.integer(0, curves2d_);
                in_.integer(0, surfaces_);
            } else { // on a surface
                in_.real();
                in_.integer(0, surfaces_);
            }
            location();
        }
    }

    void readRegularity()
    {
        const std::string_view text = in_.word();
        if (std::find(regularityWords.begin(), regularityWords.end(), text)
            == regularityWords.end())
            throw Refused{};
    }

    void readPolygonOnTriangulationReference(bool closed)
    {
        const int first = in_.integer(1, polygonsOnTriangulation_);
        const int second = closed ? in_.integer(1, polygonsOnTriangulation_) : first;
        const int triangulation = in_.integer(1, triangulations_);
        const int nodes = triangulationNodes_[std::size_t(triangulation - 1)];
        if (polygonHighestNode_[std::size_t(first - 1)] > nodes
            || polygonHighestNode_[std::size_t(second - 1)] > nodes)
            throw Refused{};
        location();
    }

    void readEdge()
    {
        in_.reals(1); // tolerance
        in_.flag(); // same parameter
        in_.flag(); // same range
        in_.flag(); // degenerated
        for (int kind = in_.integer(0, 7); kind != 0; kind = in_.integer(0, 7)) {
            switch (kind) {
            case 1: // 3D curve and its range
                in_.integer(0, curves_);
                location();
                in_.reals(2);
                break;
            case 2: // curve on a surface
            case 3: // curve on a closed surface
                in_.integer(0, curves2d_);
                if (kind == 3) {
                    in_.integer(0, curves2d_);
                    readRegularity();
                }
                in_.integer(0, surfaces_);
                location();
                in_.reals(version_ == 2 ? 6 : 2); // range, and in version 2 its end points
                break;
            case 4: // regularity between two surfaces
                readRegularity();
                in_.integer(0, surfaces_);
                location();
                in_.integer(0, surfaces_);
                location();
                break;
            case 5: // polygon
                in_.integer(1, polygons3d_);
                location();
                break;
            case 6:
            case 7: readPolygonOnTriangulationReference(kind == 7); break;
            }
        }
    }

    // After the location the reader skips the rest of the line and looks for the
    // triangulation on the next one, which is blank or "2 index".
    void readFace()
    {
        in_.flag(); // natural restriction
        in_.reals(1); // tolerance
        in_.integer(0, surfaces_);
        location();
        if (!isBlank(in_.line()))
            throw Refused{};
        std::string_view mesh = in_.line();
        if (isBlank(mesh))
            return;
        if (mesh.size() < 2 || mesh[0] != '2' || !isSpace(mesh[1]))
            throw Refused{};
        mesh.remove_prefix(2);
        TextCursor index(mesh);
        index.integer(1, triangulations_);
        if (!isBlank(mesh.substr(mesh.size() - index.left())))
            throw Refused{};
    }

    // A reference to an earlier shape, "*" for the end of a list. Returns the nesting
    // depth of the shape referred to, or -1 for the end.
    int readShapeReference(int shapeCount, int earlier)
    {
        const std::string_view text = in_.word();
        if (text == "*")
            return -1;
        if (text.size() < 2 || std::string_view("+-ie").find(text[0]) == std::string_view::npos)
            throw Refused{};
        TextCursor number(text.substr(1));
        const std::int64_t index = shapeCount - std::int64_t(number.integer(1, INT_MAX)) + 1;
        if (number.left() != 0 || index < 1 || index > earlier)
            throw Refused{};
        location();
        return shapeDepth_[std::size_t(index - 1)];
    }

    void readFlags()
    {
        const std::string_view text = in_.word();
        if (text.size() != 7 || text.find_first_not_of("01") != std::string_view::npos)
            throw Refused{};
    }

    void readShapes()
    {
        in_.expect("TShapes");
        const int shapeCount = in_.integer(0, INT_MAX);
        // Kind, flags and the end of the sub-shape list.
        in_.fits(shapeCount, 3);
        shapeDepth_.reserve(std::size_t(shapeCount));
        for (int i = 0; i < shapeCount; ++i) {
            const std::string_view kind = in_.word();
            const auto found = std::find(shapeWords.begin(), shapeWords.end(), kind);
            switch (found - shapeWords.begin()) {
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
            readFlags();
            int depth = 0;
            for (int sub = readShapeReference(shapeCount, i); sub >= 0;
                 sub = readShapeReference(shapeCount, i))
                depth = std::max(depth, sub + 1);
            if (depth > maxShapeNesting)
                throw Refused{};
            shapeDepth_.push_back(depth);
        }
        // The shape itself; the reader reads none when the table is empty.
        if (shapeCount > 0)
            readShapeReference(shapeCount, shapeCount);
    }

    TextCursor in_;
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

bool isSoundTextShape(std::string_view text)
{
    try {
        TextShapeWalk(text).run();
        return true;
    } catch (const Refused&) {
        return false;
    }
}

} // namespace qor::io
