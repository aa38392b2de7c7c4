#pragma once

#include <QStringList>

// "dorxctl store CMD...": runs each store command against the databases and "sqlconfig.ini" of
// the current directory, printing each reply on its own line; answers the exit status (1 and
// nothing run when either database is missing there, 2 without commands).
int runStoreCommand(const QStringList &commands);
