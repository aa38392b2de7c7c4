#include "console.h"

#include <cstdio>

void printLine(const QByteArray &text)
{
    std::fwrite(text.constData(), 1, size_t(text.size()), stdout);
    // Encrypted replies end with a line end of their own; plain ones do not.
    if (!text.endsWith('\n'))
        std::fputc('\n', stdout);
    std::fflush(stdout);
}

int fail(int status, const QString &message)
{
    std::fprintf(stderr, "dorxctl: %s\n", message.toUtf8().constData());
    return status;
}
