#pragma once

#include <QString>

// Canonical path of name + ".ini" from the first of the search directories that holds it;
// empty, after a warning per directory and a critical message, when none does.
QString searchConfigFile(const QString &name);
