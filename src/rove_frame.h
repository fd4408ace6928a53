#pragma once
// The command frame of one run: option processing, then the command on
// every selected node.
#include <boost/program_options/options_description.hpp>

#include "rove_commands.h"

// Parses the options into g_params and runs the command (or answers
// --complete). Every failure below it is reported on standard error here;
// true when the command ran to its end.
bool DefineAndParseCommandOptions(int argc, char** argv, RoveCommandParser::Command command,
                                  boost::program_options::options_description& description, bool commandDefaulted);

// browse lives in a library above the frame's (src/browse): the program
// hands its entry to the frame before the options are parsed. The entry
// runs in place of ExecuteCommand and gives the exit status.
using BrowseEntry = int (*)();
void SetBrowseEntry(BrowseEntry entry);

// The exit status of a run that did not succeed: 1, or 2 for a snapshot file
// that cannot be read or is malformed.
int FailureStatus();

// Connects, selects the nodes of the path arguments and calls the
// command's handler once per node. Throws istd::Exception.
void ExecuteCommand();

// Removes the command word from the front of g_params.paths.
void RemoveCommand();
