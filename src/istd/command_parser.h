#pragma once
// A small framework for tools whose first word is a command: it finds the
// command word (or falls back to a default command), fills the option
// descriptions of that command and prints the help texts.
#include <iomanip>
#include <iostream>
#include <string>
#include <vector>

#include <boost/program_options/options_description.hpp>

#include "istd/enum_map.h"
#include "istd/exception.h"

namespace istd {

template <class E>
class CommandParser {
public:
    struct Command {
        E id{};
        std::string description;
    };
    using CommandList = std::vector<Command>;

    CommandParser(CommandList commands, std::string appName, E defaultCommand)
        : m_commands(std::move(commands)), m_appName(std::move(appName)), m_defaultCommand(defaultCommand) {}
    virtual ~CommandParser() = default;

    virtual void GetGlobalOptions(boost::program_options::options_description& options) = 0;
    // True when the command has options of its own.
    virtual bool GetValidOptions(E command, boost::program_options::options_description& options) = 0;
    virtual void GetUsageExamples(E command, std::string& text) = 0;
    virtual void GetGeneralHelp(std::string& text) = 0;

    // True when a command was found and both descriptions were filled; false
    // after help or an error was printed.
    bool ParseCommand(int argc, char** argv, Command& command,
                      boost::program_options::options_description& commandOptions,
                      boost::program_options::options_description& globalOptions, bool& commandDefaulted) {
        if (argc < 2) {
            std::cout << "Type '" << m_appName << " help' for usage." << std::endl;
            return false;
        }
        const std::string first = argv[1];
        if (first == "help") return HelpRequest(argc, argv);

        try {
            Select(EnumCast<E>(first), command, commandOptions, globalOptions);
            commandDefaulted = false;
            return true;
        } catch (const Exception&) {
            if (!IsListed(m_defaultCommand)) {
                std::cout << "ERROR: Unknown command " << first << std::endl;
                return false;
            }
        }
        Select(m_defaultCommand, command, commandOptions, globalOptions);
        commandDefaulted = true;
        return true;
    }

    void PrintHelp(const Command& command, bool general) {
        std::cout << std::endl;
        if (general || command.description == "help")
            PrintGeneralHelp();
        else
            PrintCommandHelp(command);
        std::cout << std::endl;
    }

    std::string GetDescription(E id) const {
        for (const auto& c : m_commands)
            if (c.id == id) return c.description;
        return std::string();
    }

private:
    bool IsListed(E id) const {
        for (const auto& c : m_commands)
            if (c.id == id) return true;
        return false;
    }

    void Select(E id, Command& command, boost::program_options::options_description& commandOptions,
                boost::program_options::options_description& globalOptions) {
        command.id = id;
        command.description = GetDescription(id);
        GetValidOptions(id, commandOptions);
        GetGlobalOptions(globalOptions);
    }

    // "help", "help help" and "help <command>": always false, help printed.
    bool HelpRequest(int argc, char** argv) {
        if (argc < 3) {
            PrintHelp(Command{}, true);
            return false;
        }
        const std::string second = argv[2];
        if (second == "help") {
            PrintHelp(Command{E{}, "help"}, false);
            return false;
        }
        try {
            const E id = EnumCast<E>(second);
            PrintHelp(Command{id, GetDescription(id)}, false);
        } catch (const Exception&) {
            std::cout << "ERROR: Unknown command " << second << std::endl;
        }
        return false;
    }

    void PrintGeneralHelp() {
        std::cout << std::left << std::endl << "Available commands: " << std::endl;
        for (const auto& c : m_commands)
            std::cout << "  " << std::setw(17) << EnumMap<E>::items.NameOf(c.id) << "   [" << c.description << "]"
                      << std::endl;
        std::cout << std::endl;
        std::string text;
        GetGeneralHelp(text);
        std::cout << text << std::endl;
    }

    void PrintCommandHelp(const Command& command) {
        std::cout << "Help for command: " << EnumMap<E>::items.NameOf(command.id) << std::endl << std::endl;
        boost::program_options::options_description own;
        if (GetValidOptions(command.id, own)) std::cout << "Valid Options: " << std::endl << own << std::endl;
        boost::program_options::options_description global;
        GetGlobalOptions(global);
        std::cout << "Global Options: " << std::endl << global << std::endl;
        std::string examples;
        GetUsageExamples(command.id, examples);
        std::cout << "Show Examples: " << std::endl << examples << std::endl;
    }

    CommandList m_commands;
    std::string m_appName;
    E m_defaultCommand;
};

}  // namespace istd
