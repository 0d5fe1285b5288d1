#include "panels/dialogs/ImportReportDialog.h"

#include <QFileInfo>
#include <QHBoxLayout>
#include <QImage>
#include <QLabel>
#include <QPixmap>
#include <QPushButton>
#include <QVBoxLayout>

namespace qor::app {

namespace {

QLabel* wrapped(const QString& text, const QString& objectName)
{
    auto* label = new QLabel(text);
    label->setObjectName(objectName);
    label->setWordWrap(true);
    return label;
}

} // namespace

ImportInfoDialog::ImportInfoDialog(const qor::io::ImportResult& result, const QString& path,
                                   QWidget* parent)
    : QorDialog(result.format.isEmpty() ? QStringLiteral("Import") : result.format,
                QStringLiteral("warning"), parent)
{
    auto* row = new QHBoxLayout(body());
    const QImage preview = QImage::fromData(result.preview);
    if (!preview.isNull()) {
        auto* picture = new QLabel;
        picture->setPixmap(QPixmap::fromImage(
            preview.scaled(220, 220, Qt::KeepAspectRatio, Qt::SmoothTransformation)));
        picture->setStyleSheet(QStringLiteral("border:1px solid #2E4568; border-radius:6px; "
                                              "padding:4px; background:#0A111F;"));
        row->addWidget(picture, 0, Qt::AlignTop);
    }
    auto* column = new QVBoxLayout;
    column->addWidget(wrapped(QFileInfo(path).fileName(), QStringLiteral("PanelHeading")));
    column->addWidget(wrapped(result.error, QStringLiteral("WarnText")));
    if (!result.notes.isEmpty())
        column->addWidget(wrapped(result.notes.join(QLatin1Char('\n')), QStringLiteral("Hint")));
    column->addStretch(1);
    row->addLayout(column, 1);
    QPushButton* close = addButton(QStringLiteral("Schließen"), true);
    connect(close, &QPushButton::clicked, this, &QDialog::accept);
    resize(720, 320);
}

ImportInfoDialog::~ImportInfoDialog() = default;

} // namespace qor::app
