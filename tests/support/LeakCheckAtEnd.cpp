// Linked into every test program of a build with AddressSanitizer: the leak check runs
// when the last test has ended, before the program's exit. At exit the database
// engine's and the web view's threads are being torn down while LeakSanitizer stops
// and reads them, and its tracer has crashed there ("Tracer caught signal 11"), after
// tests that passed. Once run here, the check is not run again at exit.
#include <gtest/gtest.h>
#include <sanitizer/lsan_interface.h>

namespace {

class TLeakCheckAtEnd : public ::testing::Environment {
public:
    void TearDown() override { __lsan_do_leak_check(); }
};

const ::testing::Environment* const registered =
    ::testing::AddGlobalTestEnvironment(new TLeakCheckAtEnd);

}  // namespace
