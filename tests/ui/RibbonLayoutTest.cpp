#include "app/RibbonLayout.h"
#include "app/CommandTable.h"
#include "app/shell/Ribbon.h"

#include "ShellDocument.h"
#include "tests/ui/RibbonTabs.h"

#include <QAction>
#include <QApplication>
#include <QMainWindow>
#include <QMenu>
#include <QScrollArea>
#include <QScrollBar>
#include <QStackedWidget>
#include <QStyleOptionSlider>
#include <QTabBar>
#include <QTest>
#include <QToolButton>
#include <QWheelEvent>

#include <gtest/gtest.h>

using qor::app::Ribbon;
using qor::test::tabTexts;

namespace {

// Every button and menu entry of the ribbon by command text.
QStringList buttonTexts(const Ribbon& ribbon)
{
    QStringList texts;
    for (const QToolButton* button : ribbon.findChildren<QToolButton*>()) {
        texts << button->text();
        if (button->menu()) {
            for (const QAction* entry : button->menu()->actions())
                texts << QStringLiteral("  ") + entry->text();
        }
    }
    return texts;
}

struct FilledRibbon {
    QMainWindow window;
    QMap<QString, QAction*> actions
        = qor::app::createActions(&window, [](const qor::app::CommandSpec&) { return [] {}; });
    Ribbon* ribbon = new Ribbon(&window);
    qor::app::RibbonPages pages = qor::app::fillRibbon(*ribbon, actions, &window);
};

const QStringList allPages
    = {QStringLiteral("VOLUMENKÖRPER"), QStringLiteral("SKIZZE"), QStringLiteral("BAUGRUPPE"),
       QStringLiteral("PRÜFEN"), QStringLiteral("AUSGABE")};

} // namespace

TEST(RibbonLayout, PagesInOrderWithTheSketchPageOnlyInSketchMode)
{
    FilledRibbon f;
    const qor::app::RibbonPages& p = f.pages;
    EXPECT_EQ(std::vector<int>({p.solid, p.sketch, p.assembly, p.check, p.output}),
              std::vector<int>({0, 1, 2, 3, 4}));
    const QStringList outside = {allPages[0], allPages[2], allPages[3], allPages[4]};
    EXPECT_EQ(tabTexts(*f.ribbon), outside);
    EXPECT_EQ(f.ribbon->currentPage(), p.solid);
    f.ribbon->setCurrentPage(p.sketch);
    EXPECT_EQ(f.ribbon->currentPage(), p.solid);

    qor::app::setSketchRibbon(*f.ribbon, p, true);
    EXPECT_EQ(tabTexts(*f.ribbon), QStringList({allPages[1], allPages[3], allPages[4]}));
    EXPECT_EQ(f.ribbon->currentPage(), p.sketch);
    qor::app::setSketchRibbon(*f.ribbon, p, false);
    EXPECT_EQ(tabTexts(*f.ribbon), outside);
    EXPECT_EQ(f.ribbon->currentPage(), p.solid);

    // Every command but the ones reached otherwise stands somewhere; some on two pages.
    const QStringList texts = buttonTexts(*f.ribbon);
    for (const char* label : {"Feder", "Rechteck", "Boolesch", "Kreis 3 Pkt.", "Fixieren"})
        EXPECT_TRUE(texts.contains(QString::fromUtf8(label))
                    || texts.contains(QStringLiteral("  ") + QString::fromUtf8(label)))
            << label;
    EXPECT_EQ(texts.count(QStringLiteral("Zeichnung")), 2);
    EXPECT_EQ(texts.count(QStringLiteral("Rendern")), 2);
    EXPECT_EQ(texts.count(QStringLiteral("Restliche Körper anzeigen")), 1);
    for (const char* absent : {"Neu", "Rückgängig", "Beenden", "Löschen", "Import"})
        EXPECT_EQ(texts.count(QString::fromUtf8(absent)), absent == std::string("Import"))
            << absent; // the visible import command only, not the hidden feature
    int buttons = 0;
    for (const auto* group : f.ribbon->findChildren<qor::app::RibbonGroup*>())
        buttons += int(group->findChildren<QToolButton*>().size());
    EXPECT_EQ(buttons, 28 + 25 + 11 + 8 + 7);
}

TEST(RibbonLayout, RendersEveryPageReadably)
{
    FilledRibbon f;
    f.window.setCentralWidget(f.ribbon);
    // Wide enough for the widest page, so that the picture shows every button.
    int width = 0;
    for (const QScrollArea* area : f.ribbon->findChildren<QScrollArea*>())
        width = std::max(width, area->widget()->sizeHint().width());
    f.window.resize(width + 20, f.ribbon->sizeHint().height());
    f.window.show();
    EXPECT_TRUE(qor::test::saveShot(*f.ribbon, QStringLiteral("ribbon-full.png")));
    // A large button's text fits the button.
    for (const QToolButton* button : f.ribbon->findChildren<QToolButton*>()) {
        if (button->toolButtonStyle() == Qt::ToolButtonTextUnderIcon
            && button->isVisibleTo(f.ribbon))
            EXPECT_GE(button->width(), button->fontMetrics().horizontalAdvance(button->text()))
                << button->text().toStdString();
    }
    qor::app::setSketchRibbon(*f.ribbon, f.pages, true);
    EXPECT_TRUE(qor::test::saveShot(*f.ribbon, QStringLiteral("ribbon-sketch.png")));
    for (int page : {f.pages.assembly, f.pages.check, f.pages.output}) {
        qor::app::setSketchRibbon(*f.ribbon, f.pages, false);
        f.ribbon->setCurrentPage(page);
        EXPECT_TRUE(qor::test::saveShot(*f.ribbon, QStringLiteral("ribbon-page%1.png").arg(page)));
    }
}

namespace {

int sliderHeight(const QScrollBar& bar)
{
    QStyleOptionSlider option;
    option.initFrom(&bar);
    option.orientation = bar.orientation();
    option.minimum = bar.minimum();
    option.maximum = bar.maximum();
    option.sliderPosition = bar.sliderPosition();
    option.sliderValue = bar.value();
    option.pageStep = bar.pageStep();
    option.singleStep = bar.singleStep();
    return bar.style()
        ->subControlRect(QStyle::CC_ScrollBar, &option, QStyle::SC_ScrollBarSlider, &bar)
        .height();
}

// Wheel notches (down is negative) over a widget, as the mouse sends them: only such events
// travel up to the parents when the widget ignores them.
void wheel(QWidget* target, int notches)
{
    const QPointF at = QPointF(target->rect().center());
    QWheelEvent event(at, target->mapToGlobal(at), QPoint(), QPoint(0, 120 * notches), Qt::NoButton,
                      Qt::NoModifier, Qt::NoScrollPhase, false);
    QSpontaneKeyEvent::setSpontaneous(&event);
    qApp->notify(target, &event);
}

} // namespace

// A page narrower than its groups shows a scroll bar with a handle one can grab, and the
// wheel over any button moves the page sideways until the last group is in view.
TEST(RibbonLayout, WheelAndScrollBarReachEveryGroupOfAPageThatDoesNotFit)
{
    for (int width : {700, 1100, 1920}) {
        SCOPED_TRACE(width);
        FilledRibbon f;
        f.window.setCentralWidget(f.ribbon);
        f.window.resize(width, f.ribbon->sizeHint().height());
        f.window.show();
        QApplication::processEvents();
        auto* area
            = qobject_cast<QScrollArea*>(f.ribbon->findChild<QStackedWidget*>()->currentWidget());
        ASSERT_NE(area, nullptr);
        QScrollBar* bar = area->horizontalScrollBar();
        const auto groups = area->widget()->findChildren<qor::app::RibbonGroup*>();
        ASSERT_FALSE(groups.isEmpty());
        const bool fits = area->widget()->sizeHint().width() <= area->viewport()->width();
        EXPECT_EQ(bar->isVisible(), !fits);
        if (!fits)
            EXPECT_GE(sliderHeight(*bar), 4) << bar->height();

        QToolButton* first = groups.front()->findChild<QToolButton*>();
        for (int i = 0; i < 40; ++i)
            wheel(first, -1);
        EXPECT_EQ(bar->value(), bar->maximum());
        EXPECT_TRUE(qor::test::saveShot(*f.ribbon, QStringLiteral("ribbon-end-%1.png").arg(width)));
        const QRect last(groups.back()->mapTo(area->viewport(), QPoint()), groups.back()->size());
        EXPECT_LE(last.right(), area->viewport()->width()) << last.right();
        EXPECT_EQ(last.width(), groups.back()->sizeHint().width());
        if (!fits) {
            EXPECT_GT(bar->maximum(), 0);
            wheel(groups.back()->findChild<QToolButton*>(), 2);
            EXPECT_EQ(bar->value(), std::max(0, bar->maximum() - 120));
        }
    }
}
