#include "panels/dialogs/AboutDialog.h"

#include "ui/theme/Theme.h"

#include <QCoreApplication>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>

#include <Standard_Version.hxx>

#include <algorithm>

namespace qor::app {

namespace {

const QString downloadPage = QStringLiteral("https://www.tarnwick.de/qorcad/download");
const QString webAddress = QStringLiteral("www.tarnwick.de");

} // namespace

AboutDialog::AboutDialog(QWidget* parent)
    : QorDialog(QStringLiteral("Über QorCAD"), QStringLiteral("help"), parent)
{
    auto* row = new QHBoxLayout(body());
    auto* logo = new QLabel;
    logo->setPixmap(Theme::instance().appIcon().pixmap(96, 96));
    row->addWidget(logo, 0, Qt::AlignTop);
    auto* text = new QLabel(aboutText());
    text->setWordWrap(true);
    text->setOpenExternalLinks(true);
    row->addWidget(text, 1);
    QPushButton* close = addButton(QStringLiteral("Schließen"), true);
    connect(close, &QPushButton::clicked, this, &QDialog::accept);
    // 620 × 300 unless the text needs more height in the chosen font.
    resize(620, std::max(300, layout()->totalHeightForWidth(620)));
}

AboutDialog::~AboutDialog() = default;

QString AboutDialog::aboutText()
{
    const Theme& theme = Theme::instance();
    const QString edition = theme.companyName.isEmpty()
                                ? QString()
                                : QStringLiteral("<p>Firmen-Edition für <b>%1</b></p>")
                                      .arg(theme.companyName.toHtmlEscaped());
    const QString link = QStringLiteral("<p><a style='color:%1' href='%2'>%3</a></p>")
                             .arg(theme.accent.name(), downloadPage, webAddress);
    return QStringLiteral(
               "<p style='font-size:22px;font-weight:700;letter-spacing:2px'>QOR<span "
               "style='color:%1'>/CAD</span></p>"
               "<p>Version %2 · Tarnwick Velmora</p>%3"
               "<p>Parametrisches 3D-CAD für Linux: Skizzen mit Bedingungen, Volumen-Features "
               "mit Zeitachse, Parameter, Import/Export von STEP, IGES, STL, OBJ und glTF.</p>"
               "<p style='color:%4'>Geometriekern: Open CASCADE Technology %5 (LGPL 2.1) · "
               "Oberfläche: Qt %6 (LGPL 3) · Schriften: Space Grotesk, JetBrains Mono (OFL)</p>")
               .arg(theme.accent.name(), QCoreApplication::applicationVersion(), edition,
                    theme.textMute.name(), QStringLiteral(OCC_VERSION_COMPLETE),
                    QString::fromLatin1(qVersion()))
           + link;
}

} // namespace qor::app
