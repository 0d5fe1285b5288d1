#pragma once

#include <QDialog>
#include <QString>

class QHBoxLayout;
class QPushButton;

namespace qor::app {

// The frame every dialog shares: a header with a line icon and the title, a body that the
// concrete dialog fills with its own layout, and a right-aligned row of buttons.
class QorDialog : public QDialog {
    Q_OBJECT

public:
    QorDialog(const QString& title, const QString& iconName, QWidget* parent = nullptr);
    ~QorDialog() override;

    // A primary button is the default button and is left for the caller to connect; any
    // other button rejects the dialog.
    QPushButton* addButton(const QString& text, bool primary = false);
    // The content area; the concrete dialog sets its own layout on it.
    QWidget* body() const { return body_; }

    // One-line text question. Returns the line's text also when cancelled; ok (when given)
    // tells whether the user accepted.
    static QString getText(QWidget* parent, const QString& title, const QString& label,
                           const QString& text, bool* ok = nullptr);

private:
    QWidget* body_;
    QHBoxLayout* buttonRow_;
};

} // namespace qor::app
