#pragma once

// Included ahead of every source file of the project (see the top CMakeLists), so that no call
// site can forget it: a qDebug line whose level the installed logger would drop costs one atomic
// load. Neither its arguments (a peer address turned into text, say) nor its text are built.

#include <QtGlobal>

#include <atomic>

namespace weblet {

// False only while an installed logger neither writes nor buffers debug messages; kept by the
// logger, read without a lock by every thread that logs.
inline std::atomic<bool> debugMessagesWanted {true};

} // namespace weblet

#undef qDebug
// A loop, as in Qt's own category macros: "if (x) qDebug(...); else ..." keeps its meaning.
#define qDebug                                                                                     \
    for (bool weblet_debugWanted = weblet::debugMessagesWanted.load(std::memory_order_relaxed);    \
         weblet_debugWanted; weblet_debugWanted = false)                                           \
    QMessageLogger(QT_MESSAGELOG_FILE, QT_MESSAGELOG_LINE, QT_MESSAGELOG_FUNC).debug
