#include "fuzzsupport.h"

#include <QCoreApplication>

#include <cstdio>
#include <cstdlib>

namespace {

// Millions of inputs would log millions of lines and slow every run down to the terminal's
// speed. A fatal message still ends the process (Qt aborts after the handler), which the fuzzer
// reports as a crash.
void discardMessage(QtMsgType, const QMessageLogContext &, const QString &)
{ }

} // namespace

namespace fuzzsupport {

// DORX_FUZZ_LOG set in the environment keeps Qt's messages, to see what a saved input does.
void startQt(int *argc, char ***argv)
{
    if (!qEnvironmentVariableIsSet("DORX_FUZZ_LOG"))
        qInstallMessageHandler(discardMessage);
    // Lives until the process ends, like the application object of the server.
    static QCoreApplication *application = new QCoreApplication(*argc, *argv);
    Q_UNUSED(application);
}

void fail(const char *file, int line, const char *condition)
{
    std::fprintf(stderr, "%s:%d: property does not hold: %s\n", file, line, condition);
    std::abort();
}

} // namespace fuzzsupport
