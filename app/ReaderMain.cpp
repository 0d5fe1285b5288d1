#include "io/ReaderProcess.h"
#include "io/ReaderServer.h"

#include <OSD.hxx>

#include <cstring>

// The reader process: reads one foreign file for the program and answers on descriptor 3,
// or, as the program's reader server, forks such a reader for each file it is asked for.
int main(int argc, char** argv)
{
    // Kernel faults become exceptions and so a German line, as in the program itself;
    // floating-point traps stay off.
    OSD::SetSignal(false);
    if (argc == 2 && std::strcmp(argv[1], qor::io::readerServeArgument) == 0)
        return qor::io::runReaderServer(qor::io::runReaderProcess);
    return qor::io::runReaderProcess(argc, argv);
}
