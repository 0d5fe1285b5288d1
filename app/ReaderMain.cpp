#include "io/ReaderProcess.h"

#include <OSD.hxx>

// The reader process: reads one foreign file for the program and answers on descriptor 3.
int main(int argc, char** argv)
{
    // Kernel faults become exceptions and so a German line, as in the program itself;
    // floating-point traps stay off.
    OSD::SetSignal(false);
    return qor::io::runReaderProcess(argc, argv);
}
