#include "panels/dialogs/BomDialog.h"

#include "expr/Format.h"
#include "io/FileAccess.h"
#include "model/DocumentController.h"
#include "panels/BomTable.h"
#include "ui/FileToWrite.h"
#include "ui/Settings.h"

#include <QApplication>
#include <QClipboard>
#include <QDir>
#include <QHeaderView>
#include <QLabel>
#include <QMessageBox>
#include <QPushButton>
#include <QTableWidget>
#include <QVBoxLayout>

namespace qor::app {

namespace {

QTableWidget* makeTable(const std::vector<BomRow>& rows)
{
    auto* table = new QTableWidget(int(rows.size()), 4);
    table->setHorizontalHeaderLabels({QStringLiteral("Pos."), QStringLiteral("Benennung"),
                                      QStringLiteral("Datei"), QStringLiteral("Menge")});
    table->verticalHeader()->hide();
    table->horizontalHeader()->setSectionResizeMode(2, QHeaderView::Stretch);
    table->horizontalHeader()->setSectionResizeMode(1, QHeaderView::ResizeToContents);
    table->setEditTriggers(QAbstractItemView::NoEditTriggers);
    for (int r = 0; r < int(rows.size()); ++r) {
        const BomRow& row = rows[std::size_t(r)];
        const QStringList cells{germanCount(std::uint64_t(r + 1)), row.name, row.file,
                                germanCount(std::uint64_t(row.count))};
        for (int c = 0; c < cells.size(); ++c)
            table->setItem(r, c, new QTableWidgetItem(cells[c]));
    }
    return table;
}

} // namespace

BomDialog::BomDialog(DocumentController* controller, QWidget* parent)
    : QorDialog(QStringLiteral("Stückliste"), QStringLiteral("parameters"), parent)
{
    const auto& components = controller->document->components;
    const std::vector<BomRow> rows = bomRows(components);
    csv_ = bomCsv(rows);

    auto* layout = new QVBoxLayout(body());
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(makeTable(rows), 1);
    auto* summary = new QLabel(QStringLiteral("%1 verschiedene Teile · %2 Komponenten")
                                   .arg(germanCount(rows.size()))
                                   .arg(germanCount(components.size())));
    summary->setObjectName(QStringLiteral("Hint"));
    layout->addWidget(summary);

    QPushButton* copy = addButton(QStringLiteral("Als CSV kopieren"));
    copy->disconnect(this);
    connect(copy, &QPushButton::clicked, this, &BomDialog::copyCsv);
    QPushButton* save = addButton(QStringLiteral("CSV speichern …"));
    save->disconnect(this);
    connect(save, &QPushButton::clicked, this, &BomDialog::saveCsv);
    connect(addButton(QStringLiteral("Schließen"), true), &QPushButton::clicked, this,
            &QDialog::accept);
    resize(720, 460);
}

void BomDialog::copyCsv()
{
    QApplication::clipboard()->setText(csv_);
}

void BomDialog::saveCsv()
{
    const FileToWrite chosen = chooseFileToWrite(
        this, QStringLiteral("Stückliste speichern"),
        QDir(settings::lastDirOrHome()).filePath(QStringLiteral("Stueckliste.csv")),
        QStringLiteral("CSV (*.csv)"), nullptr, [](const QString& name) { return name; });
    if (chosen.path.isEmpty())
        return;
    settings::rememberFolderOf(chosen.path);
    // A node that is no file was not asked about; saveCsvTo refuses it with the same words.
    saveCsvTo(chosen.path);
}

bool BomDialog::saveCsvTo(const QString& path)
{
    QString error = qor::io::unreplaceableFileMessage(path);
    if (error.isEmpty())
        error = writeBomFile(path, csv_);
    if (error.isEmpty())
        return true;
    QMessageBox::warning(this, QStringLiteral("QorCAD"), error);
    return false;
}

} // namespace qor::app
