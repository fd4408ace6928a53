// Subscribes a node, receives one notification, shuts the library down and
// leaves the notification client to the exit-time destruction of statics.
#include <chrono>
#include <condition_variable>
#include <cstdlib>
#include <iostream>
#include <mutex>

#include "mci/mci.h"

namespace {

struct Listener {
    std::mutex mutex;
    std::condition_variable changed;
    bool notified = false;
    mci::NotificationClient client{mci::Callback{mci::CallbackId(), [this](const mci::NotificationData&) {
                                                     std::lock_guard<std::mutex> lock(mutex);
                                                     notified = true;
                                                     changed.notify_all();
                                                 },
                                                 {}}};
    static Listener& Instance() {
        static Listener listener;
        return listener;
    }
};

}  // namespace

int main(int argc, char** argv) {
    if (argc != 3) return 2;
    mci::Init(argc, argv);
    const int port = std::atoi(argv[1]);
    mci::Node root = mci::Connect("", mci::eApplicationRoot, port, false);
    if (!root.IsValid()) return 3;
    mci::Node node = root.GetNode(mci::Tokenize(argv[2]));
    Listener& listener = Listener::Instance();
    listener.client.Register(node);
    std::cout << "registered" << std::endl;
    mci::Connect("", mci::eApplicationRoot, port, true).GetNode(mci::Tokenize(argv[2])).Set(std::vector<bool>{false}, 0);
    {
        std::unique_lock<std::mutex> lock(listener.mutex);
        if (listener.changed.wait_for(lock, std::chrono::seconds(10), [&] { return listener.notified; }))
            std::cout << "notified" << std::endl;
    }
    mci::Shutdown();
    std::cout << "shut down" << std::endl;
    return 0;
}
