/*
 * The command line's options, parsed with the usual conventions: long
 * options with "--name value" or "--name=value", short ones combined
 * ("-qv", "-j4", "-j 4"), "--" ending the options, "-" an operand.
 */
#ifndef MORVEL_TOOLS_CLI_ARGS_H
#define MORVEL_TOOLS_CLI_ARGS_H

#include <string>
#include <vector>

struct cli_args {
    bool help = false;
    bool object_streams = false;
    bool allow_signed = false;
    bool quiet = false;
    bool verbose = false;
    bool json = false;
    bool in_place = false;
    int jobs = 1;
    std::string out_dir;  // -o DIR; empty when not given
    std::vector<std::string> operands;
};

// Parses a command's arguments (after the command name). False with the
// reason in *error for an unknown option, a missing or bad value.
bool parse_cli_args(int argc, char** argv, bool optimize_options, cli_args& out, std::string* error);

#endif
