#include "app/shell/Timeline.h"

#include "expr/Format.h"
#include "io/CountTexts.h"
#include "model/DocumentController.h"
#include "model/FeatureDef.h"
#include "ui/theme/Theme.h"

#include <QHelpEvent>
#include <QMouseEvent>
#include <QPainter>
#include <QToolTip>

#include <algorithm>
#include <cmath>
#include <cstdlib>

namespace qor::app {

namespace {

constexpr int stripHeight = 46;
constexpr int firstCellX = 96;
constexpr int cellPitch = 34;
constexpr int cellTop = 8;
constexpr int cellSide = 30;
constexpr int markerGap = 14;
constexpr int emptyMarkerX = 90;
constexpr int grabDistance = 7;

// Mouse positions are whole pixels, rounded half away from zero.
int roundedX(double x)
{
    return int(std::lround(x));
}

QString tooltipOf(const qor::model::Feature& feature)
{
    QString html = QStringLiteral("<b>%1</b>").arg(feature.name.toHtmlEscaped());
    if (feature.suppressed)
        html += QStringLiteral("<br>unterdrückt");
    if (!feature.error.isEmpty())
        html += QStringLiteral("<br><span style='color:#FF4D6D'>%1</span>")
                    .arg(feature.error.toHtmlEscaped());
    else if (!feature.warning.isEmpty())
        html += QStringLiteral("<br><span style='color:#FFC24D'>%1</span>")
                    .arg(feature.warning.toHtmlEscaped());
    html += QStringLiteral("<br><span style='color:#5E7092'>Doppelklick: bearbeiten</span>");
    return html;
}

// The status text's tool tip: what the duration measures, so that a long component read is
// not taken for processor time.
QString durationTooltip()
{
    return QStringLiteral("Verstrichene Zeit der letzten Neuberechnung, das Lesen der "
                          "Komponentendateien eingeschlossen");
}

QString iconNameOf(const qor::model::Feature& feature)
{
    const qor::model::FeatureDef* def = qor::model::findFeatureDef(feature.type);
    return def ? def->icon : QStringLiteral("info");
}

} // namespace

int TimelineStrip::rollbackPosition(int count, int rollback)
{
    return rollback < 0 || rollback > count ? count : rollback;
}

QRect TimelineStrip::cellRect(int index) const
{
    const int x = firstCellX + cellPitch * index + (index >= position ? markerGap : 0);
    return QRect(x, cellTop, cellSide, cellSide);
}

int TimelineStrip::markerX(int k) const
{
    return k < 1 ? emptyMarkerX : cellRect(k - 1).right() + 8;
}

int TimelineStrip::indexAt(int x) const
{
    for (int i = 0; i < count; ++i) {
        if (cellRect(i).adjusted(-2, 0, 2, 0).contains(x, 20))
            return i;
    }
    return -1;
}

int TimelineStrip::nearestPosition(int x) const
{
    int best = 0;
    for (int k = 1; k <= count; ++k) {
        if (std::abs(markerX(k) - x) < std::abs(markerX(best) - x))
            best = k;
    }
    return best;
}

Timeline::Timeline(DocumentController* controller, QWidget* parent)
    : QWidget(parent)
    , controller_(controller)
{
    setObjectName(QStringLiteral("Timeline"));
    setAttribute(Qt::WA_StyledBackground);
    setAttribute(Qt::WA_MouseTracking);
    setFixedHeight(stripHeight);
}

QSize Timeline::sizeHint() const
{
    return QSize(400, stripHeight);
}

int Timeline::featureCount() const
{
    return int(controller_->document->features.size());
}

TimelineStrip Timeline::documentStrip() const
{
    const int n = featureCount();
    return TimelineStrip{n, TimelineStrip::rollbackPosition(n, controller_->document->rollback)};
}

TimelineStrip Timeline::shownStrip() const
{
    TimelineStrip strip = documentStrip();
    if (dragging_)
        strip.position = dragIndex_;
    return strip;
}

int Timeline::featureIdAt(int x) const
{
    const int index = shownStrip().indexAt(x);
    return index < 0 ? 0 : controller_->document->features[std::size_t(index)]->id;
}

bool Timeline::event(QEvent* event)
{
    if (event->type() != QEvent::ToolTip)
        return QWidget::event(event);
    auto* help = static_cast<QHelpEvent*>(event);
    const int index = shownStrip().indexAt(help->pos().x());
    if (index < 0 && statusRect().contains(help->pos()))
        QToolTip::showText(help->globalPos(), durationTooltip(), this);
    else if (index < 0)
        QToolTip::showText(help->globalPos(), QString());
    else
        QToolTip::showText(help->globalPos(),
                           tooltipOf(*controller_->document->features[std::size_t(index)]), this);
    return true;
}

void Timeline::mousePressEvent(QMouseEvent* event)
{
    const TimelineStrip strip = documentStrip();
    const int x = roundedX(event->position().x());
    if (std::abs(strip.markerX(strip.position) - x) <= grabDistance) {
        dragging_ = true;
        dragIndex_ = strip.position;
        return;
    }
    const int index = strip.indexAt(x);
    if (index < 0 || event->button() != Qt::LeftButton)
        return;
    selectedId_ = controller_->document->features[std::size_t(index)]->id;
    emit selected(selectedId_);
    update();
}

void Timeline::mouseMoveEvent(QMouseEvent* event)
{
    const int x = roundedX(event->position().x());
    if (dragging_) {
        const int k = shownStrip().nearestPosition(x);
        if (k != dragIndex_) {
            dragIndex_ = k;
            update();
        }
        return;
    }
    const TimelineStrip strip = documentStrip();
    const int hover = strip.indexAt(x);
    if (hover != hoverIndex_) {
        hoverIndex_ = hover;
        update();
    }
    const bool nearMarker = std::abs(strip.markerX(strip.position) - x) < 8;
    setCursor(nearMarker ? Qt::SizeHorCursor : Qt::ArrowCursor);
}

void Timeline::mouseReleaseEvent(QMouseEvent*)
{
    if (!dragging_)
        return;
    dragging_ = false;
    emit rollbackRequested(dragIndex_ < featureCount() ? dragIndex_ : -1);
    update();
}

void Timeline::mouseDoubleClickEvent(QMouseEvent* event)
{
    const int id = featureIdAt(roundedX(event->position().x()));
    if (id != 0)
        emit editRequested(id);
}

void Timeline::setMarkedFeature(int featureId)
{
    selectedId_ = featureId;
    update();
}

void Timeline::contextMenuEvent(QContextMenuEvent* event)
{
    const int id = featureIdAt(event->pos().x());
    if (id != 0)
        emit contextRequested(id, event->globalPos());
}

void Timeline::paintEvent(QPaintEvent* event)
{
    QWidget::paintEvent(event);
    const Theme& theme = Theme::instance();
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);

    painter.setFont(theme.uiFont(10, 600));
    painter.setPen(theme.textMute);
    painter.drawText(QRect(12, 0, 80, height()), Qt::AlignLeft | Qt::AlignVCenter,
                     QStringLiteral("ZEITACHSE"));

    const TimelineStrip strip = shownStrip();
    paintCells(painter, strip);

    const int m = strip.markerX(strip.position);
    painter.setPen(QPen(theme.accent3, 2.4));
    painter.drawLine(QPointF(m, 6), QPointF(m, 40));
    painter.setPen(Qt::NoPen);
    painter.setBrush(theme.accent3);
    const QPointF triangle[3] = {QPointF(m - 6, 4), QPointF(m + 6, 4), QPointF(m, 11)};
    painter.drawPolygon(triangle, 3);

    painter.setFont(statusFont());
    painter.setPen(theme.textMute);
    painter.drawText(statusArea(), Qt::AlignRight | Qt::AlignVCenter, statusText());
}

QFont Timeline::statusFont() const
{
    return Theme::instance().uiFont(11, 400);
}

QRect Timeline::statusArea() const
{
    return QRect(0, 0, width() - 14, height());
}

QString Timeline::statusText() const
{
    return QStringLiteral("%1 · %2 ms")
        .arg(io::countText(shownStrip().count, QStringLiteral("Feature"),
                           QStringLiteral("Features")),
             germanCount(std::uint64_t(std::max(0.0, std::round(controller_->lastRecomputeMs)))));
}

QRect Timeline::statusRect() const
{
    return QFontMetrics(statusFont())
        .boundingRect(statusArea(), Qt::AlignRight | Qt::AlignVCenter, statusText());
}

void Timeline::paintCells(QPainter& painter, const TimelineStrip& strip)
{
    if (strip.count == 0)
        return;
    const Theme& theme = Theme::instance();
    painter.setPen(QPen(theme.line, 2.0));
    painter.drawLine(QPointF(strip.cellRect(0).left(), 23),
                     QPointF(strip.cellRect(strip.count - 1).right(), 23));

    const auto& features = controller_->document->features;
    for (int i = 0; i < strip.count; ++i) {
        const qor::model::Feature& f = *features[std::size_t(i)];
        const QRect cell = strip.cellRect(i);
        const bool isSelected = f.id == selectedId_;
        const bool inactive = i >= strip.position || f.suppressed;
        const bool failed = !f.error.isEmpty();

        QColor border = theme.lineBright;
        if (failed)
            border = theme.danger;
        else if (!f.warning.isEmpty())
            border = theme.warning;
        else if (isSelected)
            border = theme.accent;
        QColor fill = theme.bg2;
        if (inactive)
            fill = theme.bg1;
        else if (isSelected)
            fill = Theme::mix(theme.bg2, theme.accent, 0.25);
        else if (i == hoverIndex_)
            fill = theme.bg3;
        painter.setPen(QPen(border, isSelected ? 1.6 : 1.0));
        painter.setBrush(fill);
        painter.drawRoundedRect(QRectF(cell.left() + 0.5, 8.5, 29, 29), 6.0, 6.0);

        QColor iconColour = theme.text;
        if (inactive)
            iconColour = theme.textMute;
        else if (failed)
            iconColour = theme.danger;
        else if (isSelected)
            iconColour = theme.accent;
        const QPoint iconAt((cell.left() + cell.right()) / 2 - 9,
                            (cell.top() + cell.bottom()) / 2 - 9);
        painter.drawPixmap(iconAt, theme.iconPixmap(iconNameOf(f), 18, iconColour));

        if (f.suppressed) {
            painter.setPen(QPen(theme.textMute, 1.4));
            painter.drawLine(QPointF(cell.left() + 5, 13), QPointF(cell.left() + 24, 32));
        }
    }
}

} // namespace qor::app
