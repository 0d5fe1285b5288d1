#include "app/Examples.h"
#include "app/MainWindow.h"
#include "app/UpdateCheck.h"
#include "drawing/window/DrawingWindow.h"
#include "model/DocumentController.h"
#include "panels/CommandPanel.h"
#include "panels/MatePanel.h"
#include "panels/MeasurePanel.h"
#include "tests/fixtures/UpdateServer.h"
#include "tests/gl/ViewPixels.h"
#include "ui/theme/Theme.h"
#include "view/Scene.h"
#include "view/Viewer.h"

#include <BRepAdaptor_Surface.hxx>
#include <TopExp_Explorer.hxx>
#include <TopoDS.hxx>

#include <QAction>
#include <QApplication>
#include <QDesktopServices>
#include <QDialog>
#include <QInputDialog>
#include <QLabel>
#include <QMenu>
#include <QMessageBox>
#include <QScreen>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <QToolButton>
#include <gtest/gtest.h>

#include <functional>

using qor::app::MainWindow;
using qor::app::Theme;

namespace {

// Runs `trigger` while a timer waits for the modal window it opens, hands that window to
// `handle` (which must close it) and returns its title; empty when nothing modal opened.
QString runModal(
    const std::function<void()>& trigger,
    const std::function<void(QWidget*)>& handle = [](QWidget* w) { w->close(); })
{
    QString title;
    QTimer poll;
    poll.setInterval(30);
    QObject::connect(&poll, &QTimer::timeout, [&] {
        if (QWidget* modal = QApplication::activeModalWidget(); modal && title.isEmpty()) {
            title = modal->windowTitle();
            handle(modal);
        }
    });
    poll.start();
    trigger();
    poll.stop();
    return title;
}

QString toastText(const MainWindow& window)
{
    return window.toast->findChild<QLabel*>(QStringLiteral("ToastText"))->text();
}

// The whole screen, so that a dialog standing over the window is in the picture.
void saveScreen(const QString& name)
{
    QApplication::processEvents();
    QGuiApplication::primaryScreen()->grabWindow(0).save(QStringLiteral(QOR_TEST_OUTPUT "/")
                                                         + name);
}

class MainWindowToolsTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        window.resize(1280, 800);
        window.show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(&window));
    }

    MainWindow window;
};

TEST_F(MainWindowToolsTest, InspectionOutputAndTitleBarCommandsReachTheirTools)
{
    window.createExample(QStringLiteral("housing"));
    struct Case {
        const char* command;
        const char* dialog; // title of the modal dialog it opens, empty for none
        std::function<bool()> reached;
    };
    const std::vector<Case> cases = {
        {"measure", "", [&] { return window.measurePanel && window.scene->selectionMask() == 7; }},
        {"measure", "",
         [&] { return !window.measurePanel && window.scene->selectionMask() == 51; }},
        {"mass", "Masseeigenschaften", [] { return true; }},
        {"section", "", [&] { return window.sectionOn && window.sectionButton->isChecked(); }},
        {"section", "",
         [&] {
             return !window.sectionOn && toastText(window) == QStringLiteral("Schnittansicht aus");
         }},
        {"interference", "",
         [&] {
             return toastText(window)
                    == QStringLiteral("Für eine Kollisionsprüfung werden mindestens zwei Körper "
                                      "benötigt");
         }},
        {"appearance", "Material und Farbe", [] { return true; }},
        {"settings", "Einstellungen", [] { return true; }},
        {"open", "Öffnen", [] { return true; }},
        {"save", "Speichern unter", [] { return true; }},
        {"saveas", "Speichern unter", [] { return true; }},
        {"import", "Importieren", [] { return true; }},
        {"export", "Exportieren", [] { return true; }},
        {"drawing", "",
         [&] {
             const auto& drawings = window.drawingWindows;
             if (drawings.isEmpty() || !drawings.back() || !drawings.back()->isVisible())
                 return false;
             drawings.back()->close();
             return true;
         }},
        {"render", "",
         [&] {
             auto dialogs = window.findChildren<QDialog*>();
             for (QDialog* dialog : dialogs) {
                 if (dialog->windowTitle() == QStringLiteral("Rendern") && dialog->isVisible()) {
                     dialog->close();
                     return true;
                 }
             }
             return false;
         }},
    };
    // No save question before "open".
    window.controller->modified = false;
    for (const Case& c : cases) {
        QAction* action = window.actions.value(QString::fromLatin1(c.command));
        ASSERT_TRUE(action && action->isEnabled()) << c.command;
        EXPECT_EQ(runModal([action] { action->trigger(); }), QString::fromUtf8(c.dialog))
            << c.command;
        EXPECT_TRUE(c.reached()) << c.command;
    }
    EXPECT_FALSE(window.controller->document->current.bodies.get().empty());
}

TEST_F(MainWindowToolsTest, TitleBarButtonsReachTheirCommands)
{
    window.createExample(QStringLiteral("bracket"));
    const int last = window.controller->index;
    QMap<QString, QToolButton*> buttons;
    QMenu* fileMenu = nullptr;
    QWidget* titleBar = window.findChild<QWidget*>(QStringLiteral("TitleBar"));
    ASSERT_NE(titleBar, nullptr);
    const auto titleButtons = titleBar->findChildren<QToolButton*>(QStringLiteral("TitleButton"));
    for (QToolButton* button : titleButtons) {
        if (button->property("fileMenu").toBool())
            fileMenu = button->menu();
        else
            buttons.insert(button->property("act").toString(), button);
    }
    ASSERT_NE(fileMenu, nullptr);
    for (const char* command : {"new", "open", "save", "saveas", "import", "export", "quit"}) {
        QAction* action = window.actions.value(QString::fromLatin1(command));
        EXPECT_TRUE(fileMenu->actions().contains(action)) << command;
    }

    struct Case {
        const char* command;
        const char* dialog;
        int index; // of the history afterwards
    };
    const Case cases[] = {
        {"save", "Speichern unter", last},
        {"undo", "", last - 1},
        {"redo", "", last},
        {"parameters", "Parameter", last},
        {"settings", "Einstellungen", last},
        {"about", "Über QorCAD", last},
    };
    ASSERT_EQ(std::size_t(buttons.size()), std::size(cases));
    for (const Case& c : cases) {
        QToolButton* button = buttons.value(QString::fromLatin1(c.command));
        ASSERT_NE(button, nullptr) << c.command;
        EXPECT_EQ(runModal([button] { button->click(); }), QString::fromUtf8(c.dialog))
            << c.command;
        EXPECT_EQ(window.controller->index, c.index) << c.command;
    }
}

// The command "updates" against a server on this machine: the up-to-date toast, the missing
// information as an error, and the offer box whose download goes to the browser stand-in only
// for a web address.
TEST_F(MainWindowToolsTest, UpdateCheckShowsTheToastOrTheOffer)
{
    qor::test::BrowserStandIn browser;
    for (const char* scheme : {"https", "http", "ftp"})
        QDesktopServices::setUrlHandler(QString::fromLatin1(scheme), &browser, "open");
    const QString installed = QCoreApplication::applicationVersion();
    QCoreApplication::setApplicationVersion(QStringLiteral("1.2.0"));
    const auto manifest = [](const char* version, const char* url) {
        return QStringLiteral(R"({"programs":[{"name":"QorCAD","version":"%1","files":)"
                              R"({"deb":{"name":"qorcad_amd64.deb","url":"%2"}}}]})")
            .arg(QLatin1String(version), QLatin1String(url))
            .toUtf8();
    };
    const char* deb = "https://example.invalid/qorcad_1.3.0_amd64.deb";
    struct Case {
        QByteArray body; // empty: nothing listens at the address
        const char* dialog; // the offer box is answered with "Herunterladen"
        const char* toast;
        bool error;
        QList<QUrl> opened;
        bool detail = false; // the toolkit's own text as the toast's tooltip
    };
    const Case cases[] = {
        {manifest("1.2.0", deb), "", "QorCAD ist aktuell (1.2.0)", false, {}},
        {"{kaputt", "", "Keine Versionsinformationen gefunden", true, {}},
        {manifest("1.3.0", deb), "Update verfügbar", "", false, {QUrl(QString::fromLatin1(deb))}},
        // A package that cannot be fetched safely is no offer; the toast says why.
        {manifest("1.3.0", "http://example.invalid/q.deb"),
         "",
         "QorCAD 1.3.0 ist angekündigt, aber seine Download-Adresse ist nicht sicher (kein https)",
         true,
         {}},
        {manifest("1.3.0", "javascript:alert(1)"),
         "",
         "QorCAD 1.3.0 ist angekündigt, aber seine Download-Adresse ist ungültig",
         true,
         {}},
        {"",
         "",
         "Update-Prüfung fehlgeschlagen: keine Verbindung zum Update-Server",
         true,
         {},
         true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.body.constData());
        qor::test::ManifestServer server("200 OK", c.body);
        qApp->setProperty("updateUrl", c.body.isEmpty() ? qor::test::closedPortUrl().toString()
                                                        : server.url().toString());
        browser.opened.clear();
        window.toast->hide();
        const auto answer = [](QWidget* modal) {
            auto* box = qobject_cast<QMessageBox*>(modal);
            for (QAbstractButton* button : box->buttons()) {
                if (button->text() == QStringLiteral("Herunterladen"))
                    button->click();
            }
        };
        const QString dialog = runModal(
            [&] {
                window.actions.value(QStringLiteral("updates"))->trigger();
                // The check goes once its answer, the offer box included, is done.
                EXPECT_TRUE(QTest::qWaitFor(
                    [&] { return window.findChildren<qor::app::UpdateCheck*>().isEmpty(); }));
            },
            answer);
        EXPECT_EQ(dialog, QString::fromUtf8(c.dialog));
        EXPECT_EQ(server.request.contains("GET /latest.json"), !c.body.isEmpty());
        EXPECT_EQ(window.toast->isVisible(), *c.toast != 0);
        if (*c.toast != 0) {
            EXPECT_EQ(toastText(window), QString::fromUtf8(c.toast));
            EXPECT_EQ(window.toast->styleSheet().contains(Theme::instance().danger.name()),
                      c.error);
            const QString tooltip
                = window.toast->findChild<QLabel*>(QStringLiteral("ToastText"))->toolTip();
            EXPECT_EQ(!tooltip.isEmpty(), c.detail) << tooltip.toStdString();
            EXPECT_FALSE(!tooltip.isEmpty() && toastText(window).contains(tooltip));
        }
        EXPECT_EQ(browser.opened, c.opened);
    }
    for (const char* scheme : {"https", "http", "ftp"})
        QDesktopServices::unsetUrlHandler(QString::fromLatin1(scheme));
    QCoreApplication::setApplicationVersion(installed);
}

TEST_F(MainWindowToolsTest, SavedViewsProposeTheNextNumberAndReplaceByName)
{
    const auto save = [&](const QString& answer) {
        QString proposed;
        runModal([&] { window.saveCurrentView(); },
                 [&](QWidget* modal) {
                     auto* input = qobject_cast<QInputDialog*>(modal);
                     proposed = input->textValue();
                     input->setTextValue(answer);
                     input->accept();
                 });
        return proposed;
    };
    EXPECT_EQ(save(QStringLiteral(" Vorne ")), QStringLiteral("Ansicht 1"));
    EXPECT_EQ(save(QStringLiteral("Oben")), QStringLiteral("Ansicht 2"));
    EXPECT_EQ(save(QStringLiteral("Vorne")), QStringLiteral("Ansicht 3"));
    const QJsonArray& views = window.controller->document->views;
    ASSERT_EQ(views.size(), 2);
    EXPECT_EQ(views[0].toObject().value(u"name").toString(), QStringLiteral("Oben"));
    EXPECT_EQ(views[1].toObject().value(u"name").toString(), QStringLiteral("Vorne"));
    EXPECT_TRUE(views[1].toObject().contains(u"eye"));
    EXPECT_EQ(window.controller->history.back().label, QStringLiteral("Ansicht speichern"));

    QMenu menu;
    window.showViewsMenu(&menu);
    EXPECT_EQ(menu.actions().size(), 6); // save, separator, two views, separator, "Löschen"
    window.deleteView(QStringLiteral("Oben"));
    EXPECT_EQ(views.size(), 1);
    EXPECT_EQ(window.controller->history.back().label, QStringLiteral("Ansicht löschen"));
}

// A feature still open in the panel is committed before the view, as saving does, so the view's
// undo step does not swallow it.
TEST_F(MainWindowToolsTest, SavingAViewFirstAcceptsTheOpenFeature)
{
    qor::app::CommandPanel* panel = window.commandPanel;
    const int box = window.controller->document->addFeature(QStringLiteral("box"))->id;
    window.controller->recompute();
    panel->open(box, true);
    ASSERT_EQ(panel->featureId(), box);
    runModal([&] { window.saveCurrentView(); },
             [](QWidget* modal) { qobject_cast<QInputDialog*>(modal)->accept(); });
    EXPECT_EQ(panel->featureId(), 0);
    const auto& history = window.controller->history;
    ASSERT_GE(history.size(), 3u);
    EXPECT_TRUE(history[history.size() - 2].label.endsWith(QStringLiteral(" erstellen")));
    EXPECT_EQ(history.back().label, QStringLiteral("Ansicht speichern"));
}

// Two flanges as inserted, both upright: hub tops face to face and the bores on one axis through
// the mate panel; the solver turns the free one over, so it ends upside down on the fixed one.
TEST_F(MainWindowToolsTest, FlangesAssembledThroughTheMatePanel)
{
    QTemporaryDir folder;
    const QString path = folder.filePath(QStringLiteral("Flansch.qcpart"));
    {
        qor::app::DocumentController part;
        qor::app::buildExample(part, QStringLiteral("flange"));
        ASSERT_TRUE(part.saveAs(path, nullptr));
    }
    window.actions.value(QStringLiteral("mate_planar"))->trigger();
    EXPECT_EQ(toastText(window), QStringLiteral("Für Beziehungen werden mindestens zwei "
                                                "Komponenten benötigt (Baugruppe → Einfügen)"));
    window.insertComponent(path);
    EXPECT_EQ(toastText(window), QStringLiteral("„Flansch:1“ eingefügt und fixiert"));
    window.insertComponent(path);
    auto& doc = *window.controller->document;
    ASSERT_EQ(doc.components.size(), 2u);
    const int a = doc.components[0].id;
    const int b = doc.components[1].id;

    window.moveComponent(a);
    EXPECT_EQ(toastText(window), QStringLiteral("Die Komponente ist fixiert – zuerst lösen"));

    const auto face = [&](int component, const std::function<bool(BRepAdaptor_Surface&)>& wanted) {
        for (const auto& [id, body] : doc.current.bodies.get()) {
            if (!qor::model::isComponentBodyId(id) || qor::model::componentOfBody(id) != component)
                continue;
            for (TopExp_Explorer it(body.shape, TopAbs_FACE); it.More(); it.Next()) {
                BRepAdaptor_Surface surface(TopoDS::Face(it.Current()));
                if (wanted(surface))
                    return qor::app::PickInfo{1, id, 0, it.Current()};
            }
        }
        ADD_FAILURE() << "no such face on component " << component;
        return qor::app::PickInfo{};
    };
    const auto planeAt = [](double z) {
        return [z](BRepAdaptor_Surface& s) {
            return s.GetType() == GeomAbs_Plane && std::abs(s.Plane().Location().Z() - z) < 1e-3;
        };
    };
    const auto bore = [](BRepAdaptor_Surface& s) {
        return s.GetType() == GeomAbs_Cylinder && std::abs(s.Cylinder().Radius() - 20.0) < 1e-6;
    };

    window.actions.value(QStringLiteral("mate_planar"))->trigger();
    ASSERT_TRUE(window.matePanel);
    window.matePanel->takePicks({face(a, planeAt(50))});
    window.matePanel->takePicks({face(b, planeAt(50))});
    window.matePanel->accept();
    EXPECT_FALSE(window.matePanel);
    window.actions.value(QStringLiteral("mate_concentric"))->trigger();
    ASSERT_TRUE(window.matePanel);
    window.matePanel->takePicks({face(a, bore)});
    window.matePanel->takePicks({face(b, bore)});
    window.matePanel->accept();

    ASSERT_EQ(doc.mates.size(), 2u);
    const qor::model::Component& placed = *doc.component(b);
    EXPECT_NEAR(placed.m[3], 0.0, 1e-3);
    EXPECT_NEAR(placed.m[7], 0.0, 1e-3);
    EXPECT_NEAR(placed.m[11], 100.0, 1e-3);
    EXPECT_NEAR(placed.m[10], -1.0, 1e-6);
    EXPECT_EQ(window.controller->history.back().label, QStringLiteral("Beziehung hinzufügen"));

    window.viewer->fitAll(false);
    EXPECT_EQ(runModal([&] { window.actions.value(QStringLiteral("asm_bom"))->trigger(); },
                       [](QWidget* modal) {
                           saveScreen(QStringLiteral("window-bom.png"));
                           modal->close();
                       }),
              QStringLiteral("Stückliste"));
    EXPECT_EQ(runModal([&] { window.actions.value(QStringLiteral("asm_explode"))->trigger(); }),
              QStringLiteral("Explosionsansicht"));
}

// Prüfen → Schnitt cuts the shown model at once and turning it off shows it whole again at
// once: the frames on screen change with nothing else moving the view in between.
TEST_F(MainWindowToolsTest, SectionToggleChangesTheShownModelAtOnce)
{
    window.createExample(QStringLiteral("bracket"));
    QTest::qWait(900); // any camera animation of the example's opening runs out
    window.viewer->setViewOrientation(V3d_XposYnegZpos, false);
    window.viewer->fitAll(false);
    const auto frame = [this] {
        QCoreApplication::processEvents();
        return window.viewer->grabFramebuffer();
    };
    const QImage whole = frame();
    const QJsonObject camera = window.viewer->cameraState();

    window.actions.value(QStringLiteral("section"))->trigger();
    ASSERT_TRUE(window.sectionOn);
    const QImage cut = frame();
    window.actions.value(QStringLiteral("section"))->trigger();
    ASSERT_FALSE(window.sectionOn);
    const QImage back = frame();

    EXPECT_EQ(window.viewer->cameraState(), camera);
    const int cutChanges = qor::test::changedPixels(whole, cut);
    EXPECT_GT(cutChanges, 2000) << "the cut did not show";
    EXPECT_GT(qor::test::changedPixels(cut, back), 2000) << "the cut stayed on screen";
    EXPECT_LT(qor::test::changedPixels(whole, back), cutChanges / 20);
    cut.save(QStringLiteral(QOR_TEST_OUTPUT "/window-section.png"));
}

// Pictures of the housing with the measure panel and with the mass dialog, to look at.
TEST_F(MainWindowToolsTest, HousingWithMeasurePanelAndMassDialog)
{
    window.createExample(QStringLiteral("housing"));
    window.toggleMeasure();
    ASSERT_TRUE(window.measurePanel);
    const auto& bodies = window.controller->document->current.bodies.get();
    ASSERT_FALSE(bodies.empty());
    TopExp_Explorer faces(bodies.begin()->second.shape, TopAbs_FACE);
    window.measurePanel->updateMeasurement({{1, bodies.begin()->first, 0, faces.Current()}});
    EXPECT_TRUE(window.measurePanel->resultText().contains(QStringLiteral("mm²")));
    saveScreen(QStringLiteral("window-measure.png"));
    EXPECT_EQ(runModal([&] { window.showMassProperties(); },
                       [](QWidget* modal) {
                           saveScreen(QStringLiteral("window-mass.png"));
                           modal->close();
                       }),
              QStringLiteral("Masseeigenschaften"));
}

} // namespace
