#include "app/UnattendedDialogs.h"

#include <QApplication>
#include <QDialog>
#include <QEvent>
#include <QLabel>
#include <QMessageBox>
#include <QProgressDialog>
#include <QTextDocumentFragment>

#include <cstdio>

namespace qor::app {

namespace {

QString plainText(const QString& text)
{
    return Qt::mightBeRichText(text) ? QTextDocumentFragment::fromHtml(text).toPlainText() : text;
}

class DialogRefusal : public QObject {
public:
    using QObject::QObject;

protected:
    bool eventFilter(QObject* watched, QEvent* event) override
    {
        if (event->type() != QEvent::Show)
            return false;
        auto* dialog = qobject_cast<QDialog*>(watched);
        if (dialog == nullptr || !dialog->isModal() || qobject_cast<QProgressDialog*>(dialog))
            return false;
        std::fprintf(stderr, "QorCAD: %s\n", dialogText(*dialog).toLocal8Bit().constData());
        // Not at once: a dialog run by exec starts its own event loop only after it shows,
        // and that loop must end again.
        QMetaObject::invokeMethod(dialog, &QDialog::reject, Qt::QueuedConnection);
        return false;
    }
};

} // namespace

QObject* refuseDialogs()
{
    auto* refusal = new DialogRefusal(qApp);
    qApp->installEventFilter(refusal);
    return refusal;
}

QString dialogText(const QDialog& dialog)
{
    QStringList parts;
    if (const auto* box = qobject_cast<const QMessageBox*>(&dialog)) {
        parts << box->text() << box->informativeText();
    } else {
        for (const QLabel* label : dialog.findChildren<QLabel*>())
            parts << label->text();
    }
    QStringList lines;
    for (const QString& part : parts) {
        const QString line = plainText(part).simplified();
        if (!line.isEmpty())
            lines << line;
    }
    return lines.join(QStringLiteral(" – "));
}

} // namespace qor::app
