#include "io/KernelMessage.h"

#include <QRegularExpression>

namespace qor::io {

QString withoutKernelSignal(const QString& message)
{
    static const QRegularExpression signal(
        QStringLiteral(
            R"((?:Geometriefehler:\s*)?\bSIG(?:SEGV|BUS|FPE|ILL|ABRT|TRAP|SYS|INT|HUP|QUIT|KILL|TERM)\b.*$)"),
        QRegularExpression::DotMatchesEverythingOption);
    QString text = message;
    text.replace(signal, QStringLiteral("Geometriefehler im Kern"));
    return text;
}

} // namespace qor::io
