#include "model/DocumentController.h"

#include <QDir>
#include <QTemporaryDir>

#include "tests/common/ShapeChecks.h"
#include "tests/fixtures/HoledPlatePart.h"

#include <gtest/gtest.h>

#include <utility>

using qor::app::DocumentController;

namespace {

// Records the controller's signals in the order they arrive.
struct SignalLog {
    QStringList events;

    explicit SignalLog(DocumentController& controller)
    {
        QObject::connect(&controller, &DocumentController::changed,
                         [this] { events << QStringLiteral("changed"); });
        QObject::connect(&controller, &DocumentController::structureChanged,
                         [this] { events << QStringLiteral("structure"); });
        QObject::connect(&controller, &DocumentController::titleChanged,
                         [this] { events << QStringLiteral("title"); });
    }

    QStringList take() { return std::exchange(events, {}); }
};

const QStringList allThree{"changed", "structure", "title"};
// An opened file is named in the title and the browser before its bodies are shown.
const QStringList openedThree{"title", "structure", "changed"};

// One committed edit: a new user parameter named after the step.
void commitStep(DocumentController& c, int n)
{
    c.document->parameters.push_back({QStringLiteral("p%1").arg(n), QString::number(n)});
    c.commit(QStringLiteral("Schritt %1").arg(n));
}

} // namespace

TEST(DocumentController, CommitsUndoRedoAndRevert)
{
    DocumentController c;
    SignalLog log(c);
    EXPECT_EQ(c.history[0].label, "Öffnen");
    EXPECT_EQ(c.displayName(), "Unbenannt");

    c.document->addFeature(QStringLiteral("box"));
    c.commit(QStringLiteral("Quader1 erstellen"));
    EXPECT_EQ(log.take(), allThree);
    EXPECT_EQ(c.index, 1);
    EXPECT_TRUE(c.modified);
    EXPECT_EQ(c.undoText(), "Quader1 erstellen");

    // A commit without a change only recomputes.
    c.commit(QStringLiteral("Quader1 bearbeiten"));
    EXPECT_EQ(log.take(), QStringList{"changed"});
    EXPECT_EQ(c.history.size(), 2u);

    c.undo();
    EXPECT_EQ(log.take(), allThree);
    EXPECT_FALSE(c.modified);
    EXPECT_TRUE(c.document->features.empty());
    EXPECT_EQ(c.redoText(), "Quader1 erstellen");
    c.undo(); // nothing before the first entry
    EXPECT_TRUE(log.take().isEmpty());
    c.redo();
    EXPECT_EQ(log.take(), allThree);
    ASSERT_EQ(c.document->features.size(), 1u);
    c.redo(); // nothing after the last entry
    EXPECT_TRUE(log.take().isEmpty());

    // A commit after an undo cuts the redo tail.
    c.undo();
    commitStep(c, 7);
    EXPECT_EQ(c.history.size(), 2u);
    EXPECT_EQ(c.history[1].label, "Schritt 7");
    EXPECT_TRUE(c.redoText().isEmpty());

    // Revert throws away what was not committed and recomputes.
    c.document->addFeature(QStringLiteral("box"));
    c.document->parameters.clear();
    log.take();
    c.revert();
    EXPECT_EQ(log.take(), allThree);
    EXPECT_TRUE(c.document->features.empty());
    ASSERT_EQ(c.document->parameters.size(), 1u);
    EXPECT_DOUBLE_EQ(c.document->parameters[0].value, 7.0);
    EXPECT_EQ(c.index, 1);
}

TEST(DocumentController, SaveOpenAndModifiedFlag)
{
    QTemporaryDir dir;
    const QString file = dir.filePath(QStringLiteral("Halter.neu.qcpart"));
    DocumentController c;
    for (int n = 1; n <= 3; ++n)
        commitStep(c, n);
    SignalLog log(c);
    QString error;
    ASSERT_TRUE(c.saveAs(file, &error)) << error.toStdString();
    EXPECT_EQ(log.take(), QStringList{"title"});
    EXPECT_FALSE(c.modified);
    EXPECT_EQ(c.displayName(), "Halter.neu");

    // Saved at step 3, back to step 2, a new change: still modified.
    c.undo();
    EXPECT_TRUE(c.modified);
    commitStep(c, 4);
    EXPECT_EQ(c.savedIndex, -1);
    EXPECT_TRUE(c.modified);

    // A failing save or open changes nothing.
    EXPECT_FALSE(c.saveAs(dir.filePath(QStringLiteral("fehlt/x.qcpart")), &error));
    const QString broken = dir.filePath(QStringLiteral("kaputt.qcpart"));
    qor::test::writeFile(broken, "{ kein json");
    log.take();
    error.clear();
    EXPECT_FALSE(c.open(broken, &error));
    EXPECT_FALSE(error.isEmpty());
    EXPECT_TRUE(log.take().isEmpty());
    EXPECT_EQ(c.path, file);
    EXPECT_EQ(c.history.size(), 4u);
    EXPECT_TRUE(c.modified);

    // Opening the saved file starts a new history at the saved state.
    ASSERT_TRUE(c.open(file, &error)) << error.toStdString();
    EXPECT_EQ(log.take(), openedThree);
    EXPECT_EQ(c.history.size(), 1u);
    EXPECT_FALSE(c.modified);
    ASSERT_EQ(c.document->parameters.size(), 3u);
    EXPECT_DOUBLE_EQ(c.document->parameters[2].value, 3.0);

    c.newDocument();
    EXPECT_EQ(log.take(), allThree);
    EXPECT_TRUE(c.path.isEmpty());
    EXPECT_TRUE(c.document->parameters.empty());
    EXPECT_EQ(c.history.size(), 1u);
}

TEST(DocumentController, HistoryKeepsTwoHundredSteps)
{
    DocumentController c;
    for (int n = 1; n <= 200; ++n)
        commitStep(c, n);
    EXPECT_EQ(c.history.size(), 200u);
    EXPECT_EQ(c.history[0].label, "Schritt 1"); // "Öffnen" is gone
    EXPECT_EQ(c.savedIndex, -1);
    while (c.index > 0)
        c.undo();
    EXPECT_TRUE(c.modified);
    EXPECT_EQ(c.document->parameters.size(), 1u);
    c.redo();
    commitStep(c, 201); // cuts the tail, so nothing is dropped from the front
    EXPECT_EQ(c.history.size(), 3u);

    // The saved entry moves out with the front, so no undo can reach it again.
    DocumentController full;
    for (int n = 1; n <= 201; ++n)
        commitStep(full, n);
    EXPECT_EQ(full.history.size(), 200u);
    EXPECT_EQ(full.history[0].label, "Schritt 2");
    EXPECT_EQ(full.savedIndex, -2);
}

TEST(DocumentController, RebaseRewritesComponentPathsInTheDocumentAndEverySnapshot)
{
    DocumentController c;
    c.document->folder = QStringLiteral("/data/asm");
    const auto addComponent = [&c](int id, const QString& path) {
        qor::model::Component component;
        component.id = id;
        component.path = path;
        c.document->components.push_back(component);
        c.commit(QStringLiteral("Komponente %1").arg(id));
    };
    addComponent(1, QStringLiteral("parts/a.qcpart"));
    addComponent(2, QStringLiteral("/abs/b.qcpart"));
    addComponent(3, QString()); // embedded: no path

    c.rebaseComponentPaths(QStringLiteral("/data/copy/"));
    EXPECT_EQ(c.document->folder, QStringLiteral("/data/copy"));
    const QStringList expected{"../asm/parts/a.qcpart", "/abs/b.qcpart", ""};
    // Each undo step back loads one snapshot: every one must reach the same files.
    for (int step = 3; step >= 1; --step) {
        c.goTo(step);
        ASSERT_EQ(c.document->components.size(), std::size_t(step));
        for (int i = 0; i < step; ++i)
            EXPECT_EQ(c.document->components[std::size_t(i)].path, expected[i]) << step;
        EXPECT_EQ(QDir::cleanPath(c.document->resolvePath(c.document->components[0].path)),
                  QStringLiteral("/data/asm/parts/a.qcpart"));
    }
}

// Opening a file recomputes it away from the open document while the progress is asked:
// a cancel leaves the open document, its history, path and flags exactly as they were and
// says nothing changed; an open run through makes the complete new one the open one.
TEST(DocumentController, OpeningReportsProgressAndACancelKeepsTheOpenDocument)
{
    const QTemporaryDir dir;
    const QString plate = qor::test::writeHoledPlatePart(dir.path(), 300);
    for (const bool cancel : {true, false}) {
        SCOPED_TRACE(cancel ? "cancelled" : "run through");
        DocumentController c;
        commitStep(c, 1);
        const qor::model::Document* before = c.document.get();
        const QJsonObject content = before->toJson();
        SignalLog log(c);
        int calls = 0;
        int lastDone = -1;
        int lastTotal = 0;
        bool backwards = false;
        QString error;
        // A report can come before the worker has counted the features (total 0): the
        // cancel waits for one that knows the total, however late that comes under load.
        const auto outcome = c.open(plate, &error, [&](int done, int total) {
            ++calls;
            backwards = backwards || done < lastDone;
            lastDone = done;
            lastTotal = total;
            return !(cancel && total > 0);
        });
        EXPECT_GT(calls, 0) << "the recompute of three hundred holes asked no progress";
        EXPECT_EQ(lastTotal, 400) << "hundredths of the plate's four features";
        EXPECT_FALSE(backwards);
        EXPECT_LE(lastDone, lastTotal);
        if (cancel) {
            EXPECT_EQ(outcome, DocumentController::OpenOutcome::Cancelled);
            EXPECT_EQ(c.document.get(), before);
            EXPECT_EQ(c.document->toJson(), content);
            EXPECT_TRUE(c.path.isEmpty());
            EXPECT_EQ(c.history.size(), 2u);
            EXPECT_EQ(c.index, 1);
            EXPECT_TRUE(c.modified);
            EXPECT_TRUE(log.take().isEmpty());
        } else {
            EXPECT_EQ(outcome, DocumentController::OpenOutcome::Opened);
            EXPECT_EQ(c.path, plate);
            EXPECT_EQ(c.history.size(), 1u);
            EXPECT_FALSE(c.modified);
            EXPECT_EQ(c.document->current.bodies.get().size(), 1u);
            EXPECT_EQ(log.take(), openedThree);
        }
    }
}
