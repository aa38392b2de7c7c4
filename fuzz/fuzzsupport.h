#pragma once

// What every fuzz target shares: LLVMFuzzerInitialize (fuzzsupport.cpp) starts a Qt application
// for the code that needs one, keeps Qt's messages off the terminal and puts temporary files in
// memory; FUZZ_CHECK turns a broken property into a saved crash.
namespace fuzzsupport {

[[noreturn]] void fail(const char *file, int line, const char *condition);

} // namespace fuzzsupport

// Unlike Q_ASSERT, holds in every build: the properties are what the fuzzer is there to check.
#define FUZZ_CHECK(condition)                                                                      \
    ((condition) ? (void)0 : fuzzsupport::fail(__FILE__, __LINE__, #condition))
