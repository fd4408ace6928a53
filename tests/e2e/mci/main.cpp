// The library is set up once per test process, as a program would.
#include <gtest/gtest.h>

#include "mci/mci.h"

int main(int argc, char** argv) {
    ::testing::InitGoogleTest(&argc, argv);
    mci::Init(argc, argv);
#ifdef MCI_TEST_EXPOSE_HIDDEN
    mci::ExposeHiddenRegistry();
#endif
    const int status = RUN_ALL_TESTS();
    mci::Shutdown();
    mci::Shutdown();  // a second call is harmless
    return status;
}
