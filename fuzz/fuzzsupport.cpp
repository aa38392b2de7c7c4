#include "fuzzsupport.h"

#include <QCoreApplication>
#include <QDir>

#include <cstdio>
#include <cstdlib>

namespace {

// Millions of inputs would log millions of lines and slow every run down to the terminal's
// speed. A fatal message still ends the process (Qt aborts after the handler), which the fuzzer
// reports as a crash.
void discardMessage(QtMsgType, const QMessageLogContext &, const QString &)
{ }

} // namespace

// DORX_FUZZ_LOG set in the environment keeps Qt's messages, to see what a saved input does.
extern "C" int LLVMFuzzerInitialize(int *argc, char ***argv)
{
    if (!qEnvironmentVariableIsSet("DORX_FUZZ_LOG"))
        qInstallMessageHandler(discardMessage);
    // Uploads and scratch databases are written for every input: in memory, where there is a
    // memory file system.
    if (QDir(QStringLiteral("/dev/shm")).exists())
        qputenv("TMPDIR", "/dev/shm");
    // Lives until the process ends, like the application object of the server.
    static QCoreApplication *application = new QCoreApplication(*argc, *argv);
    Q_UNUSED(application);
    return 0;
}

namespace fuzzsupport {

void fail(const char *file, int line, const char *condition)
{
    std::fprintf(stderr, "%s:%d: property does not hold: %s\n", file, line, condition);
    std::abort();
}

} // namespace fuzzsupport
