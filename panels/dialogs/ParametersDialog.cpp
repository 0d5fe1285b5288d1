#include "panels/dialogs/ParametersDialog.h"

#include "ui/theme/Theme.h"
#include "expr/Expression.h"
#include "expr/Format.h"
#include "model/DocumentController.h"

#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QPushButton>
#include <QSet>
#include <QSignalBlocker>
#include <QTableWidget>
#include <QVBoxLayout>

#include <cmath>
#include <numbers>

namespace qor::app {

namespace {

enum Column { nameColumn = 0, exprColumn = 1, valueColumn = 2, commentColumn = 3 };

QString formatValue(double value)
{
    return QString::fromStdString(qor::formatNumber(4, value));
}

QLabel* hintLabel(const QString& text)
{
    auto* label = new QLabel(text);
    label->setObjectName(QStringLiteral("Hint"));
    label->setWordWrap(true);
    return label;
}

QTableWidgetItem* valueItem(const QString& text)
{
    auto* item = new QTableWidgetItem(text);
    item->setFlags(item->flags() & ~Qt::ItemIsEditable);
    return item;
}

// The named, driving dimensions of every sketch in history order, as expressions see them:
// angles in degrees without sign.
QString dimensionSummary(const qor::model::Document& doc)
{
    QStringList entries;
    for (const auto& feature : doc.features) {
        if (!feature->sketch)
            continue;
        for (const qor::sketch::Constraint& c : feature->sketch->constraints) {
            if (c.name.empty() || !qor::sketch::isDimensional(c.type) || c.driven)
                continue;
            const double value = c.type == qor::sketch::ConstraintType::Angle
                                     ? std::abs(c.value) * 180.0 / std::numbers::pi
                                     : c.value;
            entries << QStringLiteral("%1 = %2").arg(QString::fromStdString(c.name),
                                                     formatValue(value));
        }
    }
    if (entries.isEmpty())
        return QStringLiteral("Noch keine Skizzenbemaßungen.");
    return QStringLiteral("Skizzenbemaßungen: ") + entries.join(QStringLiteral(" · "));
}

} // namespace

ParametersDialog::ParametersDialog(DocumentController* controller, QWidget* parent)
    : QorDialog(QStringLiteral("Parameter"), QStringLiteral("parameters"), parent)
    , controller_(controller)
    , table_(new QTableWidget(0, 4))
    , status_(new QLabel)
    , applyButton_(nullptr)
{
    auto* layout = new QVBoxLayout(body());
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(hintLabel(QStringLiteral(
        "Benutzerparameter steuern Maße im ganzen Modell. In jedem Wertfeld können sie in "
        "Ausdrücken verwendet werden, z. B. „Breite/2 + 5“. Skizzenbemaßungen (d1, d2 …) "
        "stehen ebenfalls zur Verfügung.")));

    table_->setHorizontalHeaderLabels({QStringLiteral("Name"), QStringLiteral("Ausdruck"),
                                       QStringLiteral("Wert"), QStringLiteral("Kommentar")});
    table_->setColumnWidth(nameColumn, 140);
    table_->setColumnWidth(exprColumn, 180);
    table_->setColumnWidth(valueColumn, 100);
    table_->horizontalHeader()->setStretchLastSection(true);
    table_->verticalHeader()->hide();
    layout->addWidget(table_, 1);

    const Theme& theme = Theme::instance();
    auto* row = new QHBoxLayout;
    auto* add = new QPushButton(theme.icon(QStringLiteral("new")),
                                QStringLiteral("Parameter hinzufügen"));
    auto* remove
        = new QPushButton(theme.icon(QStringLiteral("delete")), QStringLiteral("Entfernen"));
    row->addWidget(add);
    row->addWidget(remove);
    row->addStretch(1);
    status_->setObjectName(QStringLiteral("ErrorText"));
    row->addWidget(status_);
    layout->addLayout(row);
    layout->addWidget(hintLabel(dimensionSummary(*controller_->document)));

    connect(add, &QPushButton::clicked, this, &ParametersDialog::addRow);
    connect(remove, &QPushButton::clicked, this, &ParametersDialog::removeRow);
    connect(table_, &QTableWidget::itemChanged, this, &ParametersDialog::onItemChanged);
    addButton(QStringLiteral("Abbrechen"));
    applyButton_ = addButton(QStringLiteral("Übernehmen"), true);
    connect(applyButton_, &QPushButton::clicked, this, &ParametersDialog::onApply);

    load();
    resize(720, 480);
}

ParametersDialog::~ParametersDialog() = default;

void ParametersDialog::load()
{
    const QSignalBlocker blocker(table_);
    table_->setRowCount(0);
    for (const qor::model::Parameter& p : controller_->document->parameters) {
        const int row = table_->rowCount();
        table_->insertRow(row);
        table_->setItem(row, nameColumn, new QTableWidgetItem(p.name));
        table_->setItem(row, exprColumn, new QTableWidgetItem(p.expr));
        table_->setItem(row, valueColumn, valueItem(formatValue(p.value)));
        table_->setItem(row, commentColumn, new QTableWidgetItem(p.comment));
    }
    validate();
}

QString ParametersDialog::cellText(int row, int column) const
{
    const QTableWidgetItem* item = table_->item(row, column);
    return item ? item->text() : QString();
}

void ParametersDialog::validate()
{
    const QSignalBlocker blocker(table_);
    qor::model::Document scratch;
    // A copy of a document that loaded once; nothing to report.
    scratch.fromJson(controller_->document->toJson());
    scratch.parameters.clear();
    for (int row = 0; row < table_->rowCount(); ++row) {
        qor::model::Parameter p;
        p.name = cellText(row, nameColumn).trimmed();
        p.expr = cellText(row, exprColumn).trimmed();
        scratch.parameters.push_back(p);
    }
    scratch.evaluateParameters();

    const Theme& theme = Theme::instance();
    QSet<QString> seen;
    bool anyError = false;
    namesValid_ = true;
    for (int row = 0; row < table_->rowCount(); ++row) {
        const qor::model::Parameter& p = scratch.parameters[std::size_t(row)];
        const bool badName = !qor::isValidIdentifier(p.name.toUtf8().toStdString());
        const bool duplicate = !badName && seen.contains(p.name);
        const QString error = badName     ? QStringLiteral("Ungültiger Name")
                              : duplicate ? QStringLiteral("Name doppelt")
                                          : p.error;
        namesValid_ = namesValid_ && !badName && !duplicate;
        seen.insert(p.name);
        anyError = anyError || !error.isEmpty();

        auto* item = valueItem(error.isEmpty() ? formatValue(p.value) : error);
        item->setForeground(error.isEmpty() ? theme.success : theme.danger);
        item->setToolTip(error);
        table_->setItem(row, valueColumn, item);
    }
    status_->setText(anyError ? QStringLiteral("Bitte Fehler beheben") : QString());
    applyButton_->setEnabled(namesValid_);
}

void ParametersDialog::apply()
{
    validate();
    if (!namesValid_)
        return;
    std::vector<qor::model::Parameter> parameters;
    for (int row = 0; row < table_->rowCount(); ++row) {
        qor::model::Parameter p;
        p.name = cellText(row, nameColumn).trimmed();
        const QTableWidgetItem* expr = table_->item(row, exprColumn);
        p.expr = expr ? expr->text().trimmed() : QStringLiteral("0");
        p.comment = cellText(row, commentColumn);
        parameters.push_back(p);
    }
    controller_->document->parameters = std::move(parameters);
    controller_->commit(QStringLiteral("Parameter ändern"));
}

void ParametersDialog::addRow()
{
    QSet<QString> names;
    for (int row = 0; row < table_->rowCount(); ++row)
        names.insert(cellText(row, nameColumn));
    int n = 1;
    while (names.contains(QStringLiteral("Parameter%1").arg(n)))
        ++n;

    QTableWidgetItem* name = nullptr;
    {
        const QSignalBlocker blocker(table_);
        const int row = table_->rowCount();
        table_->insertRow(row);
        name = new QTableWidgetItem(QStringLiteral("Parameter%1").arg(n));
        table_->setItem(row, nameColumn, name);
        table_->setItem(row, exprColumn, new QTableWidgetItem(QStringLiteral("10 mm")));
        table_->setItem(row, valueColumn, valueItem(QString()));
        table_->setItem(row, commentColumn, new QTableWidgetItem(QString()));
    }
    validate();
    table_->setCurrentItem(name);
    table_->editItem(name);
}

void ParametersDialog::removeRow()
{
    if (table_->currentRow() >= 0)
        table_->removeRow(table_->currentRow());
    validate();
}

void ParametersDialog::onItemChanged(QTableWidgetItem* item)
{
    if (item->column() != valueColumn)
        validate();
}

void ParametersDialog::onApply()
{
    apply();
    if (namesValid_)
        accept();
}

} // namespace qor::app
