#include "io/KernelMessage.h"

#include <Message.hxx>
#include <Message_Messenger.hxx>
#include <Message_Printer.hxx>

#include <QRegularExpression>

#include <vector>

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

void silenceKernelMessages()
{
    const Handle(Message_Messenger)& messenger = Message::DefaultMessenger();
    std::vector<Handle(Message_Printer)> printers;
    for (const Handle(Message_Printer)& printer : messenger->Printers())
        printers.push_back(printer);
    for (const Handle(Message_Printer)& printer : printers)
        messenger->RemovePrinter(printer);
}

void keepOnlyKernelFailures()
{
    static const bool done = [] {
        for (const Handle(Message_Printer)& printer : Message::DefaultMessenger()->Printers())
            printer->SetTraceLevel(Message_Fail);
        return true;
    }();
    (void)done;
}

} // namespace qor::io
