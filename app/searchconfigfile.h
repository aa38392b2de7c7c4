#pragma once

#include <QString>

// Canonical path of name + ".ini" from the first of the search directories that holds it;
// ends the process with a fatal message when none does.
QString searchConfigFile(const QString &name);
