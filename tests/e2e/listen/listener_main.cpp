// The registry library is set up once per test process and shut down before
// exit, as velnor-rove does; the listener singleton is then destroyed by the
// exit-time destruction after that shutdown, so a crash or hang there fails
// the whole run. The interrupt handler is installed first, as the tool does
// before it connects: every thread started later has the handled signals
// blocked, so a signal sent to the process reaches the handler's thread.
#include <gtest/gtest.h>

#include "mci/mci.h"
#include "velnor-rove-signal-handler.h"

int main(int argc, char** argv) {
    InstallSignalHandler();
    ::testing::InitGoogleTest(&argc, argv);
    mci::Init(argc, argv);
    const int status = RUN_ALL_TESTS();
    mci::Shutdown();
    return status;
}
