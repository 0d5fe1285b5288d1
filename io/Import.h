#pragma once

#include <QByteArray>
#include <QString>
#include <QStringList>
#include <TopoDS_Shape.hxx>

#include <functional>
#include <vector>

namespace qor::io {

// Percentage 0..100 and a label; an empty label keeps the previous one.
using ProgressCallback = std::function<void(int, const QString&)>;

// Asked by the own readers between faces and bodies; true ends the read. The import's
// time budget and the caller's cancellation answer it.
using CancelCheck = std::function<bool()>;

// True once the check (when set) asks the read to end.
inline bool cancelRequested(const CancelCheck& cancelled)
{
    return cancelled && cancelled();
}

// The message of a read that its CancelCheck ended.
inline QString readCancelledMessage()
{
    return QStringLiteral("Lesen abgebrochen");
}

// One body read from a foreign file, already placed.
struct ImportedBody {
    QString name;
    TopoDS_Shape shape;
    bool hasColor = false;
    // sRGB 0..1; the neutral body colour unless the file gave one.
    double r = 0.72;
    double g = 0.76;
    double b = 0.82;
};

struct ImportResult {
    bool ok = false;
    QString error;
    QString warning;
    std::vector<ImportedBody> bodies;
    bool meshBodies = false;
    QString format;
    QByteArray preview;
    QStringList notes;
};

// Reads a foreign CAD or mesh file chosen by its lower-case suffix. Never throws:
// every failure comes back as ok false with a German error text. The file is parsed
// and transferred in a reader process of its own, with limits on its processor time,
// memory and placed instances: whatever a file does to the readers (a crash, endless
// work, all memory) ends that process only, and the caller gets one line saying so.
// Meanwhile progress and cancelled are called on the caller's thread several times a
// second; a yes from cancelled ends the reader process at once. Without a reader
// program (see readerProgram) the file is read in this process as readInThisProcess does.
ImportResult importFile(const QString& path, const ProgressCallback& progress,
                        const CancelCheck& cancelled = {});

// Why a read ended before its reader came to an end by itself.
enum class ReadStop { none, memory, time, cancelled };

// The read itself, in this process: on a thread with a large stack, so that files nested
// deep enough to exhaust the caller's stack do not end the process, with a budget of
// processor time the readers ask for between steps. A yes from cancelled ends the read at
// the reader's next break with readCancelledMessage(). stopped (when given) gets why the
// read ended early. The reader process reads this way.
ImportResult readInThisProcess(const QString& path, const ProgressCallback& progress,
                               const CancelCheck& cancelled, ReadStop* stopped = nullptr);

// Processor time a reader may spend on the file: ten seconds and forty more per megabyte
// of the data it holds (dataBytes: comments buy nothing), twice what the slowest sound
// files the program writes need (IGES of a face with ten thousand holes takes the kernel
// twenty per megabyte), short enough that a reader going round in circles ends.
qint64 importBudgetMs(const QString& path);

// The German line of a read in this process that ended early.
QString readStopMessage(const QString& path, ReadStop stop);

// True when the lower-case last suffix of the path is one importFile reads.
bool isImportable(const QString& path);

// File-dialog filters of the open/import dialogs and of the export dialog.
QString importFilter();
QString exportFilter();

} // namespace qor::io
