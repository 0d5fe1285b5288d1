#pragma once

#include <QLabel>
#include <QStringList>

namespace qor::app {

// A hint at the end of a row of taller controls. A text wider than the label wraps onto as
// many lines as the row's height holds, breaking after a "·" where it can, else between
// words; only a text that does not fit even so is cut with "…" (the tooltip shows it whole).
// It asks for one line of height, so that a long hint never changes the height of its row
// (and so never moves what lies below it). text() keeps the whole text.
class HintLabel : public QLabel {
    Q_OBJECT

public:
    explicit HintLabel(QWidget* parent = nullptr);

    // Text and tooltip.
    void setHint(const QString& text);
    // The lines as painted at the current size.
    QStringList shownLines() const;
    // The text as painted at the current size, its lines joined by blanks.
    QString shownText() const;

    QSize sizeHint() const override;
    QSize minimumSizeHint() const override;

protected:
    void paintEvent(QPaintEvent* event) override;
};

} // namespace qor::app
