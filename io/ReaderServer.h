#pragma once

// A reader program started ahead of need: it links the kernel's libraries once and then
// waits. For each file the program asks it for, it forks a keeper, which forks the worker
// that reads that one file and ends with it. The server itself never reads a file, so a
// hostile file ends only its worker, and no read sees what an earlier one left behind;
// starting and linking a reader is off the read's path.
//
// The program sends a request (the reader's arguments) with two descriptors: the write end
// of the answer pipe, which becomes the worker's descriptor 3, and a socket to the keeper.
// The keeper sends the worker's process id at once and, when the worker has ended, its wait
// status and the processor time of worker and keeper. A byte sent to the keeper, or the
// socket's closing, ends the worker: the keeper, its parent, kills it before it can have
// been reaped, so no other process can be hit.

#include <QByteArray>
#include <QString>

#include <cstdint>
#include <vector>

#include <sys/types.h>

namespace qor::io {

// The reader program's argument that makes it the server; its requests come on descriptor 3.
inline constexpr const char* readerServeArgument = "--serve";

// The server's own side: serves requests until the program closes its end.
int runReaderServer(int (*readOne)(int argc, char** argv));

// A worker started by the server, seen from the program.
struct ServedWorker {
    pid_t pid = -1; // known once the keeper has sent it
    int answer = -1; // the read end of the answer pipe
    int keeper = -1;
};

// What the keeper reports when the worker has ended.
struct WorkerEnd {
    int status = 0; // as from waitpid
    std::int64_t cpuMicros = 0; // worker and keeper, user and system
};

// Starts the server of program unless it runs already; a server of another program ends.
// Cheap: the server links while the caller goes on.
void startReaderServer(const QString& program);

// Hands a read to the server of program (started when needed): arguments as the reader
// program takes them after its name. False when no server takes it.
bool requestServedWorker(const QString& program, const std::vector<QByteArray>& arguments,
                         ServedWorker& worker);

// Reads the worker's process id when the keeper has sent it; false when the keeper is gone
// without (the server ended before it forked).
bool receiveWorkerPid(ServedWorker& worker);

// Asks the keeper to kill the worker.
void endServedWorker(const ServedWorker& worker);

// Waits at most timeoutMs for the keeper's report of the worker's end and closes the
// keeper's socket; false without a report.
bool waitServedWorker(ServedWorker& worker, int timeoutMs, WorkerEnd& end);

// The running server's process id; -1 without one.
pid_t readerServerPid();

// Processor time of the running server and of all workers reported so far, in seconds.
double servedReadersProcessorSeconds();

} // namespace qor::io
