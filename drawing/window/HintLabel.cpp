#include "drawing/window/HintLabel.h"

#include <QPainter>

#include <algorithm>

namespace qor::app {

namespace {

// Narrow enough for the drawing window's row at its smallest, wide enough for a word.
constexpr int minimumHintWidth = 160;

const QString separator = QStringLiteral(" · ");

// The text in lines no wider than width: a part between separators goes on the line before
// when it fits there (the separator's dot stays at the end of that line), and a part wider
// than a line breaks between its words. A single word wider than a line keeps a line of its
// own.
QStringList wrapped(const QString& text, const QFontMetrics& metrics, int width)
{
    const auto fits = [&](const QString& line) { return metrics.horizontalAdvance(line) <= width; };
    QStringList lines;
    QString current;
    const QStringList parts = text.split(separator);
    for (qsizetype i = 0; i < parts.size(); ++i) {
        const QString part = i + 1 < parts.size() ? parts[i] + separator.chopped(1) : parts[i];
        const QString joined = current.isEmpty() ? part : current + u' ' + part;
        if (fits(joined)) {
            current = joined;
            continue;
        }
        if (!current.isEmpty())
            lines << current;
        current.clear();
        QStringList words = part.split(u' ', Qt::SkipEmptyParts);
        // The dot stays with the word before it rather than start a line.
        if (words.size() > 1 && words.back() == separator.trimmed()) {
            const QString dot = words.takeLast();
            words.back() += u' ' + dot;
        }
        for (const QString& word : words) {
            const QString longer = current.isEmpty() ? word : current + u' ' + word;
            if (fits(longer) || current.isEmpty()) {
                current = longer;
            } else {
                lines << current;
                current = word;
            }
        }
    }
    if (!current.isEmpty())
        lines << current;
    return lines;
}

} // namespace

HintLabel::HintLabel(QWidget* parent)
    : QLabel(parent)
{
    setWordWrap(false);
    setAlignment(Qt::AlignRight | Qt::AlignVCenter);
    // Whatever width the row leaves down to the minimum, and the row's whole height for the
    // lines of a long hint.
    setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Preferred);
}

void HintLabel::setHint(const QString& text)
{
    setText(text);
    setToolTip(text);
}

QStringList HintLabel::shownLines() const
{
    const QFontMetrics metrics = fontMetrics();
    const int width = contentsRect().width();
    if (metrics.horizontalAdvance(text()) <= width)
        return {text()};
    const int room = std::max(1, contentsRect().height() / metrics.lineSpacing());
    QStringList lines = wrapped(text(), metrics, width);
    if (lines.size() > room) {
        const QString rest = lines.mid(room - 1).join(u' ');
        lines = lines.mid(0, room - 1);
        lines << rest;
    }
    // Only the last line can be too wide: the rest of a text that needs more lines than
    // there is room for, or a single overlong word.
    for (QString& line : lines) {
        if (metrics.horizontalAdvance(line) > width)
            line = metrics.elidedText(line, Qt::ElideRight, width);
    }
    return lines;
}

QString HintLabel::shownText() const
{
    return shownLines().join(u' ');
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
    const QStringList lines = shownLines();
    const int lineHeight = fontMetrics().lineSpacing();
    const QRect area = contentsRect();
    int top = area.top() + (area.height() - int(lines.size()) * lineHeight) / 2;
    for (const QString& line : lines) {
        painter.drawText(QRect(area.left(), top, area.width(), lineHeight),
                         int(alignment() & Qt::AlignHorizontal_Mask) | Qt::AlignVCenter
                             | Qt::TextSingleLine,
                         line);
        top += lineHeight;
    }
}

} // namespace qor::app
