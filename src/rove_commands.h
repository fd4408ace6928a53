#pragma once
// The command list, options and help texts of velnor-rove.
#include <string>

#include <boost/program_options/options_description.hpp>
#include <boost/program_options/variables_map.hpp>

#include "istd/command_parser.h"
#include "rove_params.h"

using RoveCommandParser = istd::CommandParser<Command_e>;

void SetCommands(RoveCommandParser::CommandList& commands);

// --version as the first word: prints "velnor-rove <major>.<minor>.<build>"
// and gives true; the run then ends with status 0.
bool AnswerVersion(int argc, char** argv);
// --help as the first word is the help command.
void TranslateHelpOption(int argc, char** argv);

// Sets the scripting fields of g_params (--json, --glob, listen --time, ...)
// from the parsed options.
void ApplyScriptingSwitches(const boost::program_options::variables_map& vm);

class LocalCommandParser : public RoveCommandParser {
public:
    using RoveCommandParser::CommandParser;

    void GetGlobalOptions(boost::program_options::options_description& options) override;
    bool GetValidOptions(Command_e command, boost::program_options::options_description& options) override;
    void GetUsageExamples(Command_e command, std::string& text) override;
    void GetGeneralHelp(std::string& text) override;
};
