#pragma once

#include <QStringList>

// "dorxctl store CMD...": runs each store command against the databases and "sqlconfig.ini" of
// the current directory, printing each reply on its own line; answers the exit status (ExitFailed
// and nothing run when either database is missing there, ExitUsage without commands, and
// ExitRefused, after all of them ran, when a reply said a command failed).
int runStoreCommand(const QStringList &commands);
