#pragma once

#include <QString>

// DES (FIPS 46-3) on one 8-byte block and the password transform of the browser forms, which
// send an operator's password as the hexadecimal text of its DES cipher text.

void des0(int mode, const unsigned char in[8], const unsigned char key[8], unsigned char out[8]);
QString des0_in(const QString &text);
QString des0_out(const QString &password);
