// Prints the server's sealed form (Base64 of the AES envelope) of each argument, one a line,
// so that the browser tests can compare the pages' own sealing with it byte for byte.
#include "crypto/envelope.h"

#include <cstdio>

int main(int argc, char *argv[])
{
    for (int i = 1; i < argc; ++i)
        std::printf("%s\n", envelope::seal(QByteArray(argv[i])).constData());
    return 0;
}
