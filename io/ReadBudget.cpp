#include "io/ReadBudget.h"

#include <QFile>
#include <QFileInfo>

#include <algorithm>

namespace qor::io {

namespace {

constexpr qint64 chunkBytes = qint64(1) << 20;

// IGES records are 80 columns, one a line or run together without line ends;
// column 73 names the section, 'S' the start section.
class IgesRecords {
public:
    void add(const char* bytes, qint64 size)
    {
        for (qint64 i = 0; i < size; ++i) {
            const char c = bytes[i];
            if (c == '\n') {
                ++record_;
                finish();
                continue;
            }
            if (c == '\r') {
                ++record_;
                continue;
            }
            if (column_ == 80)
                finish();
            if (column_ == 72)
                section_ = c;
            ++column_;
            ++record_;
        }
    }

    qint64 data()
    {
        finish();
        return data_;
    }

private:
    void finish()
    {
        if (section_ != 'S')
            data_ += record_;
        record_ = 0;
        column_ = 0;
        section_ = 0;
    }

    qint64 data_ = 0;
    qint64 record_ = 0;
    int column_ = 0;
    char section_ = 0;
};

// STEP comments run from "/*" to "*/" outside strings, which quote with ' and
// double it inside.
class StepText {
public:
    void add(const char* bytes, qint64 size)
    {
        for (qint64 i = 0; i < size; ++i) {
            const char c = bytes[i];
            switch (state_) {
            case State::data:
                if (slash_ && c == '*') {
                    --data_; // the slash opened the comment
                    state_ = State::comment;
                    slash_ = false;
                    continue;
                }
                slash_ = c == '/';
                if (c == '\'')
                    state_ = State::string;
                ++data_;
                break;
            case State::string:
                if (c == '\'')
                    state_ = State::data; // a doubled quote opens the string again
                ++data_;
                break;
            case State::comment:
                if (star_ && c == '/')
                    state_ = State::data;
                star_ = c == '*';
                break;
            }
        }
    }

    qint64 data() const { return data_; }

private:
    enum class State { data, string, comment };
    State state_ = State::data;
    bool slash_ = false;
    bool star_ = false;
    qint64 data_ = 0;
};

template <typename Counter> qint64 countedBytes(QFile& file, Counter counter)
{
    QByteArray chunk;
    while (!(chunk = file.read(chunkBytes)).isEmpty())
        counter.add(chunk.constData(), chunk.size());
    return counter.data();
}

} // namespace

qint64 dataBytes(const QString& path)
{
    const QFileInfo info(path);
    const QString suffix = info.suffix().toLower();
    const bool iges = suffix == u"igs" || suffix == u"iges";
    const bool step = suffix == u"stp" || suffix == u"step";
    QFile file(path);
    if ((!iges && !step) || !info.isFile() || !file.open(QIODevice::ReadOnly))
        return std::max<qint64>(0, info.size());
    return iges ? countedBytes(file, IgesRecords()) : countedBytes(file, StepText());
}

} // namespace qor::io
