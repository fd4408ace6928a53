#pragma once
// The command list, options and help texts of velnor-rove.
#include <string>

#include <boost/program_options/options_description.hpp>

#include "istd/command_parser.h"
#include "rove_params.h"

using RoveCommandParser = istd::CommandParser<Command_e>;

void SetCommands(RoveCommandParser::CommandList& commands);

class LocalCommandParser : public RoveCommandParser {
public:
    using RoveCommandParser::CommandParser;

    void GetGlobalOptions(boost::program_options::options_description& options) override;
    bool GetValidOptions(Command_e command, boost::program_options::options_description& options) override;
    void GetUsageExamples(Command_e command, std::string& text) override;
    void GetGeneralHelp(std::string& text) override;
};
