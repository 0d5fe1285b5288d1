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
// every failure comes back as ok false with a German error text. The read runs on a
// thread with a large stack, so that files nested deep enough to exhaust the caller's
// stack cannot end the process; meanwhile progress and cancelled are called on the
// caller's thread several times a second. A yes from cancelled ends the read at the
// reader's next break with readCancelledMessage().
ImportResult importFile(const QString& path, const ProgressCallback& progress,
                        const CancelCheck& cancelled = {});

// True when the lower-case last suffix of the path is one importFile reads.
bool isImportable(const QString& path);

// File-dialog filters of the open/import dialogs and of the export dialog.
QString importFilter();
QString exportFilter();

} // namespace qor::io
