#pragma once

// What every fuzz target shares: a Qt application for the code that needs one, Qt's messages
// kept off the terminal, and the check that turns a broken property into a saved crash.
namespace fuzzsupport {

// Call from LLVMFuzzerInitialize with its arguments.
void startQt(int *argc, char ***argv);
[[noreturn]] void fail(const char *file, int line, const char *condition);

} // namespace fuzzsupport

// Unlike Q_ASSERT, holds in every build: the properties are what the fuzzer is there to check.
#define FUZZ_CHECK(condition)                                                                      \
    ((condition) ? (void)0 : fuzzsupport::fail(__FILE__, __LINE__, #condition))
