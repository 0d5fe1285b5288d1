#include "drawing/window/HintLabel.h"

#include <QPainter>

namespace qor::app {

namespace {

// Narrow enough for the drawing window's row at its smallest, wide enough for a word.
constexpr int minimumHintWidth = 160;

} // namespace

HintLabel::HintLabel(QWidget* parent)
    : QLabel(parent)
{
    setWordWrap(false);
    setAlignment(Qt::AlignRight | Qt::AlignVCenter);
    // Whatever width the row leaves down to the minimum; one line high whatever the text.
    setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
}

void HintLabel::setHint(const QString& text)
{
    setText(text);
    setToolTip(text);
}

QString HintLabel::shownText() const
{
    return fontMetrics().elidedText(text(), Qt::ElideRight, contentsRect().width());
}

QSize HintLabel::sizeHint() const
{
    const QMargins m = contentsMargins();
    return {fontMetrics().horizontalAdvance(text()) + m.left() + m.right(),
            fontMetrics().height() + m.top() + m.bottom()};
}

QSize HintLabel::minimumSizeHint() const
{
    return {minimumHintWidth, sizeHint().height()};
}

void HintLabel::paintEvent(QPaintEvent*)
{
    QPainter painter(this);
    painter.setPen(palette().color(foregroundRole()));
    painter.setFont(font());
    painter.drawText(contentsRect(), int(alignment()) | Qt::TextSingleLine, shownText());
}

} // namespace qor::app
