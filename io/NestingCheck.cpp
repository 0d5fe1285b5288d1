#include "io/NestingCheck.h"

#include "expr/Format.h"

#include <QBuffer>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QtEndian>

#include <algorithm>
#include <array>
#include <cstring>
#include <limits>
#include <string_view>
#include <utility>
#include <vector>

namespace qor::io {

namespace {

constexpr qint64 chunkBytes = 1 << 20;

// The entities of a STEP file and the entities each names, by position in the file.
struct StepGraph {
    std::vector<std::uint64_t> ids;
    std::vector<std::size_t> firstRef{0};
    std::vector<std::uint64_t> refs;
    // Per entity: true for a placement of one product in another (an assembly usage
    // occurrence), whose first two references are the assembly and the placed product.
    std::vector<bool> placement;
};

constexpr std::string_view placementKeyword = "NEXT_ASSEMBLY_USAGE_OCCURRENCE";

// Reads a STEP file byte by byte: strings and comments are skipped, parentheses counted,
// "#n = " at the outer level opens an entity and every later "#n" of its record is a
// reference of it.
class StepScanner {
public:
    explicit StepScanner(int parenLimit)
        : parenLimit_(parenLimit)
    {
    }

    // False once the parentheses pass the limit: nothing more needs reading.
    bool feed(const char* data, qint64 size)
    {
        const char* at = data;
        const char* const end = data + size;
        while (at < end) {
            // Most of a file is text that changes nothing: letters, figures outside a
            // reference, separators, and whatever a string holds up to its quote.
            if (!inKeyword_ && !inNumber_ && !inComment_) {
                const char* const start = at;
                if (inString_) {
                    at = static_cast<const char*>(std::memchr(at, '\'', std::size_t(end - at)));
                    if (!at)
                        return true;
                } else {
                    while (at < end && !marks()[static_cast<unsigned char>(*at)])
                        ++at;
                    if (at != start)
                        slash_ = false;
                    if (at == end)
                        return true;
                }
            }
            if (!step(*at++))
                return false;
        }
        return true;
    }

    void finish()
    {
        endNumber();
        closeEntity();
    }

    int deepestParens() const { return deepest_; }
    StepGraph& graph() { return graph_; }

private:
    // The characters that start or end something the scan follows.
    static const std::array<bool, 256>& marks()
    {
        static const std::array<bool, 256> table = [] {
            std::array<bool, 256> marked{};
            for (const char c : std::string_view("'/*#=();"))
                marked[static_cast<unsigned char>(c)] = true;
            return marked;
        }();
        return table;
    }

    bool step(char c)
    {
        if (inKeyword_) {
            // The entity's type name right after "=": compared letter by letter as it comes.
            if (c == ' ' && keyword_ == 0)
                return true;
            if (keyword_ < placementKeyword.size() && c == placementKeyword[keyword_]) {
                ++keyword_;
                return true;
            }
            inKeyword_ = false;
            if (keyword_ == placementKeyword.size() && (c == '(' || c == ' ') && open_)
                graph_.placement.back() = true;
        }
        if (inString_) {
            inString_ = c != '\'';
            return true;
        }
        if (inComment_) {
            inComment_ = !(star_ && c == '/');
            star_ = c == '*';
            return true;
        }
        if (inNumber_ && c >= '0' && c <= '9') {
            number_ = std::min<std::uint64_t>(number_ * 10 + std::uint64_t(c - '0'), 1ULL << 62);
            return true;
        }
        endNumber();
        const bool slash = slash_;
        slash_ = false;
        switch (c) {
        case '\'': inString_ = true; break;
        case '/': slash_ = true; break;
        case '*':
            if (slash) {
                inComment_ = true;
                star_ = false;
            }
            break;
        case '#':
            inNumber_ = true;
            number_ = 0;
            break;
        case '=':
            if (depth_ == 0) {
                named_ = true;
                keyword_ = 0;
                inKeyword_ = true;
            }
            break;
        case '(': deepest_ = std::max(deepest_, ++depth_); return depth_ <= parenLimit_;
        case ')': depth_ = std::max(0, depth_ - 1); break;
        case ';':
            if (depth_ == 0) {
                closeEntity();
                named_ = false;
            }
            break;
        default: break;
        }
        return true;
    }

    void endNumber()
    {
        if (!inNumber_)
            return;
        inNumber_ = false;
        if (depth_ == 0 && !named_) {
            closeEntity();
            graph_.ids.push_back(number_);
            graph_.placement.push_back(false);
            open_ = true;
        } else if (open_) {
            graph_.refs.push_back(number_);
        }
    }

    void closeEntity()
    {
        if (open_)
            graph_.firstRef.push_back(graph_.refs.size());
        open_ = false;
    }

    int parenLimit_;
    int depth_ = 0;
    int deepest_ = 0;
    bool inString_ = false;
    bool inComment_ = false;
    bool star_ = false;
    bool slash_ = false;
    bool inNumber_ = false;
    bool named_ = false;
    bool open_ = false;
    bool inKeyword_ = false;
    std::size_t keyword_ = 0;
    std::uint64_t number_ = 0;
    StepGraph graph_;
};

// Turns every reference into the position of the entity it names, plus one; 0 for a name
// no entity carries; a name carried twice means its first entity. In place: a large file
// holds millions of references.
void resolveRefs(StepGraph& graph)
{
    // Writers number their entities from 1 without large gaps: a table by name is then
    // small, and quicker than a search for each reference.
    const std::uint64_t largest
        = graph.ids.empty() ? 0 : *std::max_element(graph.ids.begin(), graph.ids.end());
    if (largest <= 4 * std::uint64_t(graph.ids.size()) + 1024
        && graph.ids.size() < std::numeric_limits<std::uint32_t>::max()) {
        std::vector<std::uint32_t> byId(largest + 1, 0);
        for (std::size_t i = graph.ids.size(); i-- > 0;)
            byId[graph.ids[i]] = std::uint32_t(i + 1);
        std::vector<std::uint64_t>().swap(graph.ids);
        for (std::uint64_t& ref : graph.refs)
            ref = ref <= largest ? byId[ref] : 0;
        return;
    }
    std::vector<std::pair<std::uint64_t, std::uint64_t>> byId;
    byId.reserve(graph.ids.size());
    for (std::size_t i = 0; i < graph.ids.size(); ++i)
        byId.emplace_back(graph.ids[i], i);
    std::vector<std::uint64_t>().swap(graph.ids);
    std::sort(byId.begin(), byId.end());
    for (std::uint64_t& ref : graph.refs) {
        const auto found
            = std::lower_bound(byId.begin(), byId.end(), std::make_pair(ref, std::uint64_t(0)));
        ref = found != byId.end() && found->first == ref ? found->second + 1 : 0;
    }
}

// The longest chain of references, walked depth first with an explicit stack; a reference
// back to an entity still on the walk closes a circle and adds nothing.
std::int64_t longestChain(StepGraph& graph)
{
    const std::size_t count = graph.firstRef.size() - 1;
    resolveRefs(graph);
    const std::vector<std::uint64_t>& targets = graph.refs;
    enum : char { unseen, walking, done };
    std::vector<char> state(count, unseen);
    std::vector<std::int64_t> length(count, 0);
    std::vector<std::pair<std::size_t, std::size_t>> stack;
    std::int64_t longest = 0;
    for (std::size_t root = 0; root < count; ++root) {
        if (state[root] != unseen)
            continue;
        state[root] = walking;
        stack.emplace_back(root, graph.firstRef[root]);
        while (!stack.empty()) {
            auto& [node, next] = stack.back();
            if (next < graph.firstRef[node + 1]) {
                const std::uint64_t target = targets[next++];
                if (target != 0 && state[target - 1] == unseen) {
                    state[target - 1] = walking;
                    stack.emplace_back(target - 1, graph.firstRef[target - 1]);
                }
                continue;
            }
            std::int64_t below = 0;
            for (std::size_t r = graph.firstRef[node]; r < graph.firstRef[node + 1]; ++r) {
                if (targets[r] != 0 && state[targets[r] - 1] == done)
                    below = std::max(below, length[targets[r] - 1]);
            }
            length[node] = below + 1;
            longest = std::max(longest, length[node]);
            state[node] = done;
            stack.pop_back();
        }
    }
    return longest;
}

} // namespace

// Saturates instead of overflowing; a node that places itself, directly or further down,
// places without end.
std::uint64_t placedBelow(const std::vector<std::vector<std::size_t>>& children,
                          const std::vector<std::size_t>& roots)
{
    const std::size_t count = children.size();
    enum : char { unseen, walking, done };
    std::vector<char> state(count, unseen);
    std::vector<std::uint64_t> placed(count, 0);
    const auto add = [](std::uint64_t a, std::uint64_t b) {
        return a > unlimitedPlacements - b ? unlimitedPlacements : a + b;
    };
    std::uint64_t total = 0;
    std::vector<std::pair<std::size_t, std::size_t>> stack;
    for (const std::size_t root : roots) {
        if (state[root] == unseen) {
            state[root] = walking;
            stack.emplace_back(root, 0);
        }
        while (!stack.empty()) {
            auto& [node, next] = stack.back();
            if (next < children[node].size()) {
                const std::size_t child = children[node][next++];
                if (state[child] == walking)
                    return unlimitedPlacements;
                if (state[child] == unseen) {
                    state[child] = walking;
                    stack.emplace_back(child, 0);
                }
                continue;
            }
            std::uint64_t sum = children[node].empty() ? 1 : 0;
            for (std::size_t child : children[node])
                sum = add(sum, placed[child]);
            placed[node] = sum;
            state[node] = done;
            stack.pop_back();
        }
        total = add(total, placed[root]);
    }
    return total;
}

std::uint64_t placedCount(const std::vector<std::vector<std::size_t>>& children)
{
    std::vector<bool> placedSomewhere(children.size(), false);
    for (const auto& list : children) {
        for (std::size_t child : list)
            placedSomewhere[child] = true;
    }
    std::vector<std::size_t> roots;
    for (std::size_t node = 0; node < children.size(); ++node) {
        if (!placedSomewhere[node])
            roots.push_back(node);
    }
    // Nodes that only circles lead to place without end as well.
    if (roots.empty() && !children.empty())
        return unlimitedPlacements;
    return placedBelow(children, roots);
}

namespace {

// The bodies the file's assembly usages place; 0 for a file without any. Call after
// resolveRefs.
std::uint64_t stepPlacements(const StepGraph& graph)
{
    std::vector<std::size_t> products;
    std::vector<std::size_t> index(graph.placement.size(), std::size_t(-1));
    std::vector<std::vector<std::size_t>> children;
    const auto node = [&](std::uint64_t target) {
        std::size_t& at = index[target - 1];
        if (at == std::size_t(-1)) {
            at = children.size();
            children.emplace_back();
        }
        return at;
    };
    for (std::size_t e = 0; e < graph.placement.size(); ++e) {
        if (!graph.placement[e] || graph.firstRef[e + 1] - graph.firstRef[e] < 2)
            continue;
        const std::uint64_t parent = graph.refs[graph.firstRef[e]];
        const std::uint64_t child = graph.refs[graph.firstRef[e] + 1];
        if (parent == 0 || child == 0)
            continue;
        const std::size_t p = node(parent);
        const std::size_t c = node(child);
        children[p].push_back(c);
    }
    return children.empty() ? 0 : placedCount(children);
}

} // namespace

StepNesting scanStepNesting(QIODevice& in, int parenLimit)
{
    StepScanner scanner(parenLimit);
    StepNesting nesting;
    while (!in.atEnd()) {
        const QByteArray chunk = in.read(chunkBytes);
        if (chunk.isEmpty())
            break;
        if (!scanner.feed(chunk.constData(), chunk.size())) {
            nesting.deepestParens = scanner.deepestParens();
            return nesting;
        }
    }
    scanner.finish();
    nesting.deepestParens = scanner.deepestParens();
    nesting.longestChain = longestChain(scanner.graph());
    nesting.placements = stepPlacements(scanner.graph());
    return nesting;
}

int scanJsonNesting(QIODevice& in, int limit)
{
    int depth = 0;
    int deepest = 0;
    bool inString = false;
    bool escaped = false;
    while (!in.atEnd()) {
        const QByteArray chunk = in.read(chunkBytes);
        if (chunk.isEmpty())
            break;
        for (const char c : chunk) {
            if (inString) {
                inString = escaped || c != '"';
                escaped = !escaped && c == '\\';
            } else if (c == '"') {
                inString = true;
            } else if (c == '[' || c == '{') {
                deepest = std::max(deepest, ++depth);
                if (depth > limit)
                    return deepest;
            } else if (c == ']' || c == '}') {
                depth = std::max(0, depth - 1);
            }
        }
    }
    return deepest;
}

QString stepNestingFault(const QString& path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return {};
    const StepNesting nesting = scanStepNesting(file, maxStepParens);
    if (nesting.deepestParens > maxStepParens) {
        return QStringLiteral("STEP-Datei ist zu tief verschachtelt (mehr als %1 Klammerebenen)")
            .arg(germanCount(std::uint64_t(maxStepParens)));
    }
    if (nesting.longestChain > maxStepChain) {
        return QStringLiteral("STEP-Datei enthält eine Kette von %1 aufeinander verweisenden "
                              "Einträgen (höchstens %2 werden gelesen)")
            .arg(germanCount(std::uint64_t(nesting.longestChain)))
            .arg(germanCount(std::uint64_t(maxStepChain)));
    }
    return placementsFault(nesting.placements);
}

QString placementsFault(std::uint64_t placements)
{
    if (placements <= maxPlacements)
        return {};
    const QString count = placements == unlimitedPlacements ? QStringLiteral("unendlich viele")
                                                            : germanCount(placements);
    return QStringLiteral("Die Datei platziert %1 Körper; mehr als %2 werden nicht gelesen")
        .arg(count, germanCount(std::uint64_t(maxPlacements)));
}

namespace {

// One IGES entity: its type, its parameters split at the delimiter (strings as written,
// without their length prefix) and whether it stands on its own (not a part of another).
struct IgesEntity {
    int type = 0;
    std::vector<QByteArray> parameters;
    bool independent = true;
};

// Splits parameter text at commas and the final semicolon; "5HAB,CD" is one string.
std::vector<QByteArray> igesParameters(const QByteArray& text)
{
    std::vector<QByteArray> out;
    QByteArray field;
    for (qsizetype i = 0; i < text.size(); ++i) {
        const char c = text[i];
        if (c == 'H' && !field.isEmpty() && std::all_of(field.begin(), field.end(), [](char d) {
                return d >= '0' && d <= '9';
            })) {
            const qsizetype length = std::min<qsizetype>(field.toLongLong(), text.size() - i - 1);
            field = text.mid(i + 1, length);
            i += length;
            continue;
        }
        if (c == ',' || c == ';') {
            out.push_back(field.trimmed());
            field.clear();
            if (c == ';')
                break;
            continue;
        }
        field.append(c);
    }
    return out;
}

} // namespace

std::uint64_t igesPlacements(const QByteArray& iges)
{
    // Sections by the letter in column 73; the directory holds two lines per entity.
    std::vector<QByteArray> directory;
    std::vector<QByteArray> parameterLines;
    for (const QByteArray& raw : iges.split('\n')) {
        const QByteArray line = raw.endsWith('\r') ? raw.chopped(1) : raw;
        if (line.size() < 73)
            continue;
        if (line[72] == 'D')
            directory.push_back(line);
        else if (line[72] == 'P')
            parameterLines.push_back(line.left(64));
    }
    std::vector<IgesEntity> entities(directory.size() / 2);
    bool any = false;
    for (std::size_t e = 0; e < entities.size(); ++e) {
        const QByteArray& first = directory[2 * e];
        const QByteArray& second = directory[2 * e + 1];
        IgesEntity& entity = entities[e];
        entity.type = first.mid(0, 8).trimmed().toInt();
        entity.independent = first.mid(66, 2) == "00" || first.mid(66, 2).trimmed().isEmpty();
        if (entity.type != 308 && entity.type != 408 && entity.type != 402)
            continue;
        any = true;
        const long long start = first.mid(8, 8).trimmed().toLongLong();
        const long long count = second.mid(24, 8).trimmed().toLongLong();
        QByteArray text;
        for (long long l = start;
             l >= 1 && l < start + count && l <= (long long)(parameterLines.size()); ++l)
            text += parameterLines[std::size_t(l - 1)];
        entity.parameters = igesParameters(text);
    }
    if (!any)
        return 0;
    // Directory pointers are odd line numbers: entity (pointer - 1) / 2.
    const auto entityAt = [&](const QByteArray& pointer, std::size_t& at) {
        const long long value = pointer.toLongLong();
        if (value < 1 || value % 2 == 0 || std::size_t((value - 1) / 2) >= entities.size())
            return false;
        at = std::size_t((value - 1) / 2);
        return true;
    };
    // One more node than entities: a root above every entity that stands on its own.
    std::vector<std::vector<std::size_t>> children(entities.size() + 1);
    for (std::size_t e = 0; e < entities.size(); ++e) {
        const IgesEntity& entity = entities[e];
        const std::vector<QByteArray>& p = entity.parameters;
        std::size_t at = 0;
        if (entity.type == 408 && p.size() > 1 && entityAt(p[1], at)) {
            children[e].push_back(at);
        } else if (entity.type == 308 && p.size() > 3) {
            const long long count = p[3].toLongLong();
            for (long long i = 0; i < count && std::size_t(4 + i) < p.size(); ++i) {
                if (entityAt(p[std::size_t(4 + i)], at))
                    children[e].push_back(at);
            }
        } else if (entity.type == 402 && p.size() > 1) {
            const long long count = p[1].toLongLong();
            for (long long i = 0; i < count && std::size_t(2 + i) < p.size(); ++i) {
                if (entityAt(p[std::size_t(2 + i)], at))
                    children[e].push_back(at);
            }
        }
        if (entity.independent)
            children.back().push_back(e);
    }
    // Only what stands on its own is read; what nothing places is not counted.
    return placedBelow(children, {entities.size()});
}

std::uint64_t gltfPlacements(const QByteArray& json)
{
    const QJsonObject root = QJsonDocument::fromJson(json).object();
    const QJsonArray nodes = root.value(QStringLiteral("nodes")).toArray();
    if (nodes.isEmpty())
        return 0;
    // The scene's nodes hang below one more node, the root.
    const std::size_t count = std::size_t(nodes.size());
    std::vector<std::vector<std::size_t>> children(count + 1);
    for (std::size_t i = 0; i < count; ++i) {
        for (const QJsonValue child :
             nodes[qsizetype(i)].toObject().value(QStringLiteral("children")).toArray()) {
            const qint64 at = child.toInteger(-1);
            if (at >= 0 && std::size_t(at) < count)
                children[i].push_back(std::size_t(at));
        }
    }
    const QJsonArray scenes = root.value(QStringLiteral("scenes")).toArray();
    const int scene = root.value(QStringLiteral("scene")).toInt(0);
    for (const QJsonValue node :
         scenes.at(scene).toObject().value(QStringLiteral("nodes")).toArray()) {
        const qint64 at = node.toInteger(-1);
        if (at >= 0 && std::size_t(at) < count)
            children[count].push_back(std::size_t(at));
    }
    return placedBelow(children, {count});
}

QString igesPlacementsFault(const QString& path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return {};
    return placementsFault(igesPlacements(file.readAll()));
}

QString gltfNestingFault(const QString& path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return {};
    // A binary file holds its JSON as the first chunk behind a 12-byte header and the
    // chunk's 8-byte length and type.
    const QByteArray head = file.peek(20);
    QByteArray json;
    if (head.size() == 20 && head.startsWith("glTF") && head.mid(16, 4) == "JSON") {
        const quint32 length = qFromLittleEndian<quint32>(head.constData() + 12);
        file.seek(20);
        json = file.read(length);
    } else {
        json = file.readAll();
    }
    QBuffer buffer(&json);
    buffer.open(QIODevice::ReadOnly);
    if (scanJsonNesting(buffer, maxJsonNesting) > maxJsonNesting)
        return QStringLiteral("glTF-Datei ist zu tief verschachtelt (mehr als %1 Ebenen)")
            .arg(germanCount(std::uint64_t(maxJsonNesting)));
    return placementsFault(gltfPlacements(json));
}

} // namespace qor::io
