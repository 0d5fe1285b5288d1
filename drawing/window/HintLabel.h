#pragma once

#include <QLabel>

namespace qor::app {

// A hint that always takes one line: a text wider than the label is cut with "…" and shown
// whole as the tooltip, so that a long hint never changes the height of its row (and so
// never moves what lies below it). text() keeps the whole text.
class HintLabel : public QLabel {
    Q_OBJECT

public:
    explicit HintLabel(QWidget* parent = nullptr);

    // Text and tooltip.
    void setHint(const QString& text);
    // The text as painted at the current width.
    QString shownText() const;

    QSize sizeHint() const override;
    QSize minimumSizeHint() const override;

protected:
    void paintEvent(QPaintEvent* event) override;
};

} // namespace qor::app
