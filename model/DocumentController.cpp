#include "model/DocumentController.h"

#include "io/NameLinks.h"
#include "io/ReaderThread.h"
#include "model/RecomputeStop.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QJsonArray>

#include <Font_FontMgr.hxx>

#include <algorithm>
#include <memory>

namespace qor::app {

using qor::model::Document;

namespace {

// A document without a folder resolved its relative paths against the working folder.
QString rebasedPath(const QString& stored, const QString& oldFolder, const QDir& newFolder)
{
    if (stored.isEmpty() || QDir::isAbsolutePath(stored))
        return stored;
    return newFolder.relativeFilePath(QDir(oldFolder).absoluteFilePath(stored));
}

void rebaseSnapshot(QJsonObject& snapshot, const QString& oldFolder, const QDir& newFolder)
{
    QJsonArray components = snapshot.value(QStringLiteral("components")).toArray();
    if (components.isEmpty())
        return;
    for (qsizetype i = 0; i < components.size(); ++i) {
        QJsonObject component = components[i].toObject();
        const QString stored = component.value(QStringLiteral("path")).toString();
        if (stored.isEmpty())
            continue;
        component.insert(QStringLiteral("path"), rebasedPath(stored, oldFolder, newFolder));
        components[i] = component;
    }
    snapshot.insert(QStringLiteral("components"), components);
}

} // namespace

DocumentController::DocumentController(QObject* parent)
    : QObject(parent)
    , document(std::make_unique<Document>())
{
    resetHistory();
}

// A cancelled open's recompute may still finish its kernel step; none outlives the controller.
DocumentController::~DocumentController()
{
    qor::io::finishLeftWork();
}

void DocumentController::newDocument()
{
    document = std::make_unique<Document>();
    path.clear();
    resetHistory();
    recompute();
    emit structureChanged();
    emit titleChanged();
}

DocumentController::OpenOutcome DocumentController::open(const QString& filePath, QString* error,
                                                         const OpenProgress& progress)
{
    // Shared with the worker: a cancelled open leaves it to finish the kernel step it is in
    // on its own, and the document it recomputed goes with it.
    struct Opening {
        std::unique_ptr<Document> document = std::make_unique<Document>();
        qor::model::RecomputeWatch watch;
    };
    // The recompute of an open cancelled before may still finish its kernel step: two at
    // once would share the kernel's tables and the machine, so this one waits for it.
    if (!qor::io::finishLeftWork([&progress] { return !progress || progress(0, 0); }))
        return OpenOutcome::Cancelled;
    const auto opening = std::make_shared<Opening>();
    if (!opening->document->load(filePath, error))
        return OpenOutcome::Failed;
    // The undo step holds the document as read, before its sketches are solved.
    QJsonObject snapshot = opening->document->toJson();
    // The kernel makes its font manager on first use without a lock, and the window's labels
    // use it on this thread: a text feature on the worker, in the file or in a component
    // file it loads, must find it made.
    Font_FontMgr::GetInstance();
    qor::model::RecomputeWatch& watch = opening->watch;
    // The count and the share are read one after the other while the worker moves them:
    // what is reported never goes back nor beyond the end.
    int reported = 0;
    QElapsedTimer timer;
    timer.start();
    const bool finished = qor::io::runOnReaderThreadUnlessLeft(
        [opening] {
            const qor::model::StoppableRecompute stoppable(opening->watch);
            opening->document->recompute(&opening->watch);
        },
        [&] {
            const int total = 100 * watch.total;
            reported = std::clamp(int(100.0 * (watch.done + watch.booleanShare)), reported, total);
            if (progress && !watch.stop && !progress(reported, total))
                watch.stop = true;
        },
        [&watch] { return bool(watch.stop); });
    if (!finished || watch.stop)
        return OpenOutcome::Cancelled;
    document = std::move(opening->document);
    path = filePath;
    startHistory(std::move(snapshot));
    lastRecomputeMs = double(timer.nsecsElapsed()) / 1e6;
    // The title and the browser name the opened file while the view shows its bodies.
    emit titleChanged();
    emit structureChanged();
    emit changed();
    return OpenOutcome::Opened;
}

bool DocumentController::open(const QString& filePath, QString* error)
{
    return open(filePath, error, {}) == OpenOutcome::Opened;
}

bool DocumentController::saveAs(const QString& filePath, QString* error)
{
    if (!document->save(filePath, error))
        return false;
    path = filePath;
    document->file = filePath;
    savedIndex = index;
    modified = false;
    emit titleChanged();
    return true;
}

QString DocumentController::displayName() const
{
    // A file whose name is not text is open through a link: the title names the real one.
    if (!path.isEmpty())
        return QFileInfo(qor::io::shownPath(path)).completeBaseName();
    if (!document->name.isEmpty())
        return document->name;
    return QStringLiteral("Unbenannt");
}

void DocumentController::rebaseComponentPaths(const QString& newFolder)
{
    const QString oldFolder = document->folder;
    const QDir target(QDir(newFolder).absolutePath());
    for (qor::model::Component& component : document->components)
        component.path = rebasedPath(component.path, oldFolder, target);
    for (HistoryEntry& entry : history)
        rebaseSnapshot(entry.snapshot, oldFolder, target);
    document->folder = target.absolutePath();
}

void DocumentController::commit(const QString& label)
{
    QJsonObject snapshot = document->toJson();
    if (index >= 0 && snapshot == history[std::size_t(index)].snapshot) {
        recompute();
        return;
    }
    history.resize(std::size_t(index + 1));
    if (savedIndex > index)
        savedIndex = -1;
    history.push_back({std::move(snapshot), label});
    if (history.size() > std::size_t(historyLimit)) {
        history.erase(history.begin());
        --savedIndex;
    }
    index = int(history.size()) - 1;
    modified = index != savedIndex;
    recompute();
    emit structureChanged();
    emit titleChanged();
}

void DocumentController::amendCurrentStep()
{
    if (index >= 0)
        history[std::size_t(index)].snapshot = document->toJson();
}

void DocumentController::goTo(int i)
{
    if (i < 0 || i >= int(history.size()))
        return;
    document->fromJson(history[std::size_t(i)].snapshot);
    index = i;
    modified = i != savedIndex;
    recompute();
    emit structureChanged();
    emit titleChanged();
}

void DocumentController::undo()
{
    if (index > 0)
        goTo(index - 1);
}

void DocumentController::redo()
{
    if (index + 1 < int(history.size()))
        goTo(index + 1);
}

void DocumentController::revert()
{
    goTo(index);
}

QString DocumentController::undoText() const
{
    return index >= 1 ? history[std::size_t(index)].label : QString();
}

QString DocumentController::redoText() const
{
    return index + 1 < int(history.size()) ? history[std::size_t(index + 1)].label : QString();
}

void DocumentController::resetHistory()
{
    startHistory(document->toJson());
}

void DocumentController::startHistory(QJsonObject snapshot)
{
    history.clear();
    history.push_back({std::move(snapshot), QStringLiteral("Öffnen")});
    index = 0;
    savedIndex = 0;
    modified = false;
}

void DocumentController::recompute()
{
    QElapsedTimer timer;
    timer.start();
    document->recompute();
    lastRecomputeMs = double(timer.nsecsElapsed()) / 1e6;
    emit changed();
}

} // namespace qor::app
