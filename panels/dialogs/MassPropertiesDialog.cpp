#include "panels/dialogs/MassPropertiesDialog.h"

#include "model/DocumentController.h"
#include "panels/MassTable.h"

#include <QApplication>
#include <QClipboard>
#include <QHeaderView>
#include <QLabel>
#include <QPushButton>
#include <QTableWidget>
#include <QVBoxLayout>

namespace qor::app {

MassDialog::MassDialog(const DocumentController& controller, QWidget* parent)
    : QorDialog(QStringLiteral("Masseeigenschaften"), QStringLiteral("mass"), parent)
{
    const std::vector<MassRow> rows = massRows(*controller.document);
    csv_ = massCsv(rows);

    auto* layout = new QVBoxLayout(body());
    const QStringList headers{QStringLiteral("Körper"),        QStringLiteral("Material"),
                              QStringLiteral("Volumen cm³"),   QStringLiteral("Oberfläche cm²"),
                              QStringLiteral("Masse g"),       QStringLiteral("Schwerpunkt mm"),
                              QStringLiteral("Abmessungen mm")};
    auto* table = new QTableWidget(0, int(headers.size()));
    table->setHorizontalHeaderLabels(headers);
    table->verticalHeader()->hide();
    table->horizontalHeader()->setSectionResizeMode(QHeaderView::ResizeToContents);
    table->horizontalHeader()->setStretchLastSection(true);
    table->setEditTriggers(QAbstractItemView::NoEditTriggers);
    for (const MassRow& row : rows) {
        const int r = table->rowCount();
        table->insertRow(r);
        const QStringList cells = massCells(row);
        for (int c = 0; c < cells.size(); ++c)
            table->setItem(r, c, new QTableWidgetItem(cells[c]));
    }
    layout->addWidget(table, 1);
    auto* totals = new QLabel(massTotals(rows));
    totals->setTextFormat(Qt::RichText);
    layout->addWidget(totals);

    QPushButton* copy = addButton(QStringLiteral("Als CSV kopieren"));
    copy->disconnect(this);
    connect(copy, &QPushButton::clicked, this, &MassDialog::copyCsv);
    QPushButton* close = addButton(QStringLiteral("Schließen"), true);
    connect(close, &QPushButton::clicked, this, &QDialog::accept);
    resize(900, 360);
}

MassDialog::~MassDialog() = default;

void MassDialog::copyCsv() const
{
    QApplication::clipboard()->setText(csv_);
}

} // namespace qor::app
