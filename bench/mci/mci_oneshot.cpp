// One-shot registry client: what a shell loop around the tool pays per run
// for the library (Init, Connect, GetNode, one Get, Shutdown).
#include <cstdlib>
#include <iostream>
#include <string>

#include "mci/mci.h"

int main(int argc, char** argv) {
    if (argc < 3) return 2;
    mci::Init(argc, argv);
    int status = 0;
    try {
        const mci::Node root = mci::Connect("", mci::eApplicationRoot, std::atoi(argv[1]), false);
        if (!root.IsValid()) throw istd::Exception("no registry", true);
        std::string text;
        root.GetNode(mci::Tokenize(argv[2])).Get(text, 0);
        std::cout << text << '\n';
    } catch (const std::exception& e) {
        std::cerr << e.what() << '\n';
        status = 1;
    }
    mci::Shutdown();
    return status;
}
