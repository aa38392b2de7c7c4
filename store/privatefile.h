#pragma once

#include <QString>

// Files that hold passwords and access data (the databases, the settings files) are readable and
// writable by their owner only. They are created that way before anything is written to them;
// SQLite gives its journals the mode of their database, and Qt keeps the mode of a settings file
// it rewrites.
namespace privatefile {

// Creates path empty with mode 0600 unless something exists there already, which keeps its mode.
// False when it could not be created (the caller's own open then reports why).
bool create(const QString &path);

} // namespace privatefile
