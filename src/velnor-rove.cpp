// velnor-rove: command-line client of the instrument registry. This file
// holds the program's entry; the command frame and the handlers are in the
// tool's core library (rove_frame.cpp and the rove_<command>.cpp files).
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <exception>
#include <iostream>

#include <fcntl.h>
#include <unistd.h>

#include <boost/program_options/options_description.hpp>

#include "istd/trace.h"
#include "browse/browse.h"
#include "mci/mci.h"
#include "rove_commands.h"
#include "rove_frame.h"
#include "rove_output.h"
#include "rove_params.h"

namespace po = boost::program_options;

namespace {

// A standard descriptor that is closed at start would be taken by the next
// file the process opens (the ORB's wake-up pipe, a socket, the trace file):
// "@-" would then read that pipe for ever, and output would go into it. So
// each closed one is opened on /dev/null before anything else can open a
// file, against its use (the input for writing, the outputs for reading):
// reading a closed input or writing a closed output still fails, with
// EBADF, as it would have.
void OccupyClosedStandardDescriptors(int, char**, char**) {
    for (int fd = STDIN_FILENO; fd <= STDERR_FILENO; ++fd) {
        if (fcntl(fd, F_GETFD) != -1 || errno != EBADF) continue;
        const int opened = open("/dev/null", fd == STDIN_FILENO ? O_WRONLY : O_RDONLY);
        if (opened < 0 || opened == fd) continue;
        dup2(opened, fd);
        close(opened);
    }
}

// A traced run writes every scope, down to the destructors of the objects
// that live as long as the process: it ends through the normal exit.
bool Traced() { return istd::TraceFile::GetInstance().IsActive(); }

// Standard output has been flushed and checked. What exit would still do
// is free memory, join threads whose work has ended and destroy the
// process-wide objects; builds that check for leaks and races still do it,
// and so does a traced run.
[[noreturn]] void EndProcess(int status) {
#ifndef VELNOR_FULL_TEARDOWN
    if (!Traced()) {
        std::cerr.flush();
        std::fflush(nullptr);
        _exit(status);
    }
#endif
    std::exit(status);
}

}  // namespace

// The executable's pre-initialisation array runs before the initialisers of
// every library and of the program itself.
__attribute__((section(".preinit_array"), used)) void (*const g_occupyStandardDescriptors)(int, char**, char**) =
    OccupyClosedStandardDescriptors;

int main(int argc, char** argv) {
    // A closed pipe must make writes fail (and the run end with status 1 and
    // a message), not kill the process half-way without a word.
    std::signal(SIGPIPE, SIG_IGN);
    rove_output::Install();
    if (AnswerVersion(argc, argv)) std::exit(rove_output::Good() ? 0 : 1);
    TranslateHelpOption(argc, argv);
    SetBrowseEntry(&browse::RunBrowse);
    bool ok = false;
    try {
        RoveCommandParser::CommandList commands;
        SetCommands(commands);
        LocalCommandParser parser(commands, "velnor-rove", eAccess);
        po::options_description commandOptions;
        po::options_description globalOptions;
        RoveCommandParser::Command command;
        bool commandDefaulted = false;
        const bool found = parser.ParseCommand(argc, argv, command, commandOptions, globalOptions, commandDefaulted);
        po::options_description description("");
        description.add(commandOptions).add(globalOptions);
        mci::Init(argc, argv);
        mci::ExposeHiddenRegistry();
        ok = found && DefineAndParseCommandOptions(argc, argv, command, description, commandDefaulted);
    } catch (const std::exception& e) {
        std::cerr << e.what() << std::endl;
    }
    if (!Traced()) mci::EndProcessAfterShutdown();
    mci::Shutdown();
    if (!rove_output::Good()) {
        if (!rove_output::FailureReported()) std::cerr << rove_output::FailureText() << std::endl;
        ok = false;
    }
    EndProcess(ok ? 0 : FailureStatus());
}
