#include "io/NestingCheck.h"

#include <QBuffer>
#include <QFile>
#include <QtEndian>

#include <algorithm>
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
};

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
        for (qint64 i = 0; i < size; ++i) {
            if (!step(data[i]))
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
    bool step(char c)
    {
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
            if (depth_ == 0)
                named_ = true;
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
    std::uint64_t number_ = 0;
    StepGraph graph_;
};

// Turns every reference into the position of the entity it names, plus one; 0 for a name
// no entity carries. In place: a large file holds millions of references.
void resolveRefs(StepGraph& graph)
{
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
            .arg(maxStepParens);
    }
    if (nesting.longestChain > maxStepChain) {
        return QStringLiteral("STEP-Datei enthält eine Kette von %1 aufeinander verweisenden "
                              "Einträgen (höchstens %2 werden gelesen)")
            .arg(nesting.longestChain)
            .arg(maxStepChain);
    }
    return {};
}

QString gltfNestingFault(const QString& path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return {};
    // A binary file holds its JSON as the first chunk behind a 12-byte header and the
    // chunk's 8-byte length and type.
    const QByteArray head = file.peek(20);
    if (head.size() == 20 && head.startsWith("glTF") && head.mid(16, 4) == "JSON") {
        const quint32 length = qFromLittleEndian<quint32>(head.constData() + 12);
        file.seek(20);
        QByteArray json = file.read(length);
        QBuffer buffer(&json);
        buffer.open(QIODevice::ReadOnly);
        if (scanJsonNesting(buffer, maxJsonNesting) <= maxJsonNesting)
            return {};
    } else if (scanJsonNesting(file, maxJsonNesting) <= maxJsonNesting) {
        return {};
    }
    return QStringLiteral("glTF-Datei ist zu tief verschachtelt (mehr als %1 Ebenen)")
        .arg(maxJsonNesting);
}

} // namespace qor::io
