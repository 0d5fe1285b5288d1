#include "panels/dialogs/QorDialog.h"

#include "ui/theme/Theme.h"

#include <QFormLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QVBoxLayout>

namespace qor::app {

QorDialog::QorDialog(const QString& title, const QString& iconName, QWidget* parent)
    : QDialog(parent)
    , body_(new QWidget)
    , buttonRow_(new QHBoxLayout)
{
    setWindowTitle(title);
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 14);
    layout->setSpacing(0);

    auto* header = new QWidget;
    header->setObjectName(QStringLiteral("CommandHeader"));
    header->setAttribute(Qt::WA_StyledBackground);
    auto* headerRow = new QHBoxLayout(header);
    headerRow->setContentsMargins(16, 12, 16, 12);
    const Theme& theme = Theme::instance();
    auto* icon = new QLabel;
    icon->setPixmap(theme.iconPixmap(iconName, 22, theme.accent));
    headerRow->addWidget(icon);
    auto* heading = new QLabel(title);
    heading->setObjectName(QStringLiteral("PanelHeading"));
    headerRow->addWidget(heading, 1);
    layout->addWidget(header, 0);

    auto* bodyBox = new QVBoxLayout;
    bodyBox->setContentsMargins(18, 14, 18, 8);
    bodyBox->addWidget(body_);
    layout->addLayout(bodyBox, 1);

    buttonRow_->setContentsMargins(18, 4, 18, 0);
    buttonRow_->addStretch(1);
    layout->addLayout(buttonRow_, 0);
}

QorDialog::~QorDialog() = default;

QPushButton* QorDialog::addButton(const QString& text, bool primary)
{
    auto* button = new QPushButton(text);
    if (primary) {
        button->setObjectName(QStringLiteral("Primary"));
        button->setDefault(true);
    } else {
        connect(button, &QPushButton::clicked, this, &QDialog::reject);
    }
    buttonRow_->addWidget(button);
    return button;
}

QString QorDialog::getText(QWidget* parent, const QString& title, const QString& label,
                           const QString& text, bool* ok)
{
    QorDialog dialog(title, QStringLiteral("edit"), parent);
    auto* form = new QFormLayout(dialog.body_);
    auto* edit = new QLineEdit(text);
    edit->selectAll();
    form->addRow(label, edit);
    dialog.addButton(QStringLiteral("Abbrechen"));
    QPushButton* accept = dialog.addButton(QStringLiteral("OK"), true);
    connect(accept, &QPushButton::clicked, &dialog, &QDialog::accept);
    connect(edit, &QLineEdit::returnPressed, &dialog, &QDialog::accept);
    dialog.resize(380, 160);
    const int result = dialog.exec();
    if (ok)
        *ok = result == QDialog::Accepted;
    return edit->text();
}

} // namespace qor::app
