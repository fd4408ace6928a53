// The library is set up once per test process, as a program would.
#include <gtest/gtest.h>

#include <cstdlib>

#include "mci/mci.h"

int main(int argc, char** argv) {
    ::testing::InitGoogleTest(&argc, argv);
#ifdef MCI_TEST_CALL_DEADLINE_MS
    // Before the library's first use, which reads it.
    setenv("VELNOR_CALL_DEADLINE_MS", MCI_TEST_CALL_DEADLINE_MS, 1);
#endif
    mci::Init(argc, argv);
#ifdef MCI_TEST_EXPOSE_HIDDEN
    mci::ExposeHiddenRegistry();
#endif
    const int status = RUN_ALL_TESTS();
    mci::Shutdown();
    mci::Shutdown();  // a second call is harmless
    return status;
}
