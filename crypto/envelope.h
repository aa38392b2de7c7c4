#pragma once

#include <QByteArray>

// The sealed form of every encrypted command message, requests and replies alike: AES-128 in
// ECB mode with zero padding under the device's fixed key, carried as standard Base64. The
// device's command handler and the management client seal and open messages only through these
// two functions, so both ends always agree on the cipher.
namespace envelope {

QByteArray seal(const QByteArray &plain);
QByteArray open(const QByteArray &sealed);

} // namespace envelope
