#pragma once

#include "model/Document.h"

#include <QJsonObject>
#include <QObject>
#include <QString>

#include <functional>
#include <memory>
#include <vector>

namespace qor::app {

// One undo step: the whole document as written by Document::toJson.
struct HistoryEntry {
    QJsonObject snapshot;
    QString label;
};

// Owner of the open document and the only road by which the interface changes
// it: callers edit the document in place, recompute for previews and commit a
// labelled undo step when the user confirms. The owner reads the members
// directly and changes them only through the operations.
class DocumentController : public QObject {
    Q_OBJECT

public:
    static constexpr int historyLimit = 200;

    std::unique_ptr<qor::model::Document> document;
    std::vector<HistoryEntry> history;
    int index = -1; // entry of the last committed state
    int savedIndex = 0; // entry that matches the file; negative once it left the history
    QString path;
    bool modified = false;
    double lastRecomputeMs = 0.0;

    // Called on the opening thread every few tens of milliseconds while the opened file
    // recomputes, with the work done and to do in hundredths of a feature (a feature's
    // boolean counts as it goes); false cancels the open.
    using OpenProgress = std::function<bool(int done, int total)>;
    enum class OpenOutcome { Opened, Failed, Cancelled };

    explicit DocumentController(QObject* parent = nullptr);
    ~DocumentController() override;

    void newDocument();
    // Reads the file, then recomputes it on a worker thread while this one waits in
    // `progress`: the new document becomes the open one only once it is complete, so no
    // widget reads it half-built. On failure or cancel the open document, history, path
    // and flags stay as they were.
    OpenOutcome open(const QString& path, QString* error, const OpenProgress& progress);
    bool open(const QString& path, QString* error = nullptr);
    bool saveAs(const QString& path, QString* error = nullptr);
    QString displayName() const;
    // Moves the document's base folder: every relative component path, in the document and in
    // every undo snapshot, is rewritten to reach the same file from the new folder, so that
    // undo, redo and cancel after a save into another folder load no dangling paths.
    void rebaseComponentPaths(const QString& newFolder);

    void commit(const QString& label);
    // Takes what the document gained without an edit of the user's (the first arrangement
    // of a drawing sheet) into the current undo step: undo does not go back to the state
    // without it, and the document is no more modified than it was.
    void amendCurrentStep();
    void goTo(int i);
    void undo();
    void redo();
    // Throws away every change since the last commit.
    void revert();
    QString undoText() const;
    QString redoText() const;
    void resetHistory();
    void recompute();

signals:
    void changed();
    void structureChanged();
    void titleChanged();

private:
    // A history of one step, "Öffnen", holding the snapshot.
    void startHistory(QJsonObject snapshot);
};

} // namespace qor::app
