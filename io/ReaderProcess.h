#pragma once

// Foreign files are parsed and transferred in a process of their own, the reader program
// beside the main program. A crash, endless work or exhausted memory ends that process
// only; its limits are set by the process itself as its first step. The reader writes its
// answer to file descriptor 3: progress frames while it reads, then the result, with the
// bodies' shapes in the kernel's binary form.

#include "io/Import.h"

#include <QByteArray>
#include <QString>

#include <cstdint>
#include <istream>
#include <ostream>
#include <vector>

namespace qor::io {

// The file name of the reader program.
inline constexpr const char* readerProgramName = "qorcad-reader";
// The descriptor a reader writes its answer to.
inline constexpr int readerAnswerFd = 3;

// What a reader process may use for one file.
struct ReaderLimits {
    qint64 cpuSeconds = 0; // processor time of the whole process
    // A process that gains no processor time for this long (hung or stopped) is ended; one
    // that gains it slowly, waiting for a core on a busy machine, is not.
    qint64 stallMs = 0;
    std::uint64_t memoryBytes = 0; // its address space
};

// The limits for reading the file at path: the processor budget of importBudgetMs, a
// stall of several budgets without processor time, and memory that grows with the file's size but
// leaves the machine a quarter of its own.
ReaderLimits readerLimits(const QString& path);

// The reader program beside the running program, else the one of this build; empty when
// there is none.
QString readerProgram();

// The environment a reader program starts with: this process's, with the kernel's memory
// manager set to its pooled allocator unless the environment names one already.
class ReaderEnvironment {
public:
    ReaderEnvironment();
    // The entries as the system's process start takes them, ending with a null.
    char* const* entries() const { return pointers_.data(); }

private:
    std::vector<QByteArray> texts_;
    std::vector<char*> pointers_;
};

// How a reader process comes to be: forked by the program's reader server (see
// ReaderServer.h), which has linked the libraries ahead of need, or started afresh.
enum class ReaderStart { served, fresh };

// Reads the file at path in a reader process of program. result comes with the format
// and mesh flag of the file's suffix and gets the rest. progress and cancelled as for
// importFile. A reader the server cannot provide is started afresh; when the program
// cannot be started at all, the file is read in this process.
void readInReaderProcess(const QString& program, const QString& path,
                         const ProgressCallback& progress, const CancelCheck& cancelled,
                         ImportResult& result, ReaderStart start = ReaderStart::served);
// The same under the given limits rather than readerLimits(path).
void readInReaderProcess(const QString& program, const QString& path, const ReaderLimits& limits,
                         const ProgressCallback& progress, const CancelCheck& cancelled,
                         ImportResult& result, ReaderStart start);

// Processor time, in seconds, of the reader server and of the readers it forked that have
// ended; readers started afresh count among this process's children.
double readerProcessorSeconds();

// True when this process has come within a twentieth of its address-space limit: code
// that fails there failed for want of memory, whatever it made of that (some of the
// kernel's readers take a failed allocation for damaged data).
bool nearAddressSpaceLimit();

// The line of a read whose reader process ended early, naming the limit it reached.
QString readerProcessStopMessage(const QString& path, ReadStop stop);
// The line of a read whose reader process gained no processor time for the limits' stallMs.
QString readerStallMessage(const QString& path, const ReaderLimits& limits);

// The reader process's own side: reads the file named by the arguments under the limits
// they give and answers on file descriptor 3. Returns the process's exit status.
int runReaderProcess(int argc, char** argv);

// The answer's encoding, shared by both sides. A frame is one tag byte and its data.
inline constexpr char progressFrame = 'P';
inline constexpr char resultFrame = 'R';
QByteArray encodeProgress(int percent, const QString& label);
// The result frame's data: the record without shapes, then all shapes as one compound.
// The reader writes it straight to its answer; a reader that runs out of memory on the way
// ends with memoryExitStatus.
void writeResult(std::ostream& out, const ImportResult& result, ReadStop stop);
QByteArray encodeResult(const ImportResult& result, ReadStop stop);
inline constexpr int memoryExitStatus = 4;
// False when the data is not a whole result or its shapes' data is not sound; what this
// process has no room for throws std::bad_alloc or Standard_OutOfMemory. The caller reads
// the record as it comes and the shapes once their data is whole and checked.
bool readResult(std::istream& in, ImportResult& result, ReadStop& stop);
bool decodeResult(const QByteArray& data, ImportResult& result, ReadStop& stop);

} // namespace qor::io
