// Command line: the one argument, and the texts printed before the log exists.
#pragma once

#include <cstddef>
#include <cstdio>

constexpr std::size_t XLOCD_PATH_SIZE = 512; // token of at most 511 characters

enum class CliAction {
    MissingArgument, // exit 1
    Version,         // exit 0
    Help,            // exit 0
    Manual,          // exit 0
    NoToken,         // help text, exit 1
    PathTooLong,     // refused like a path that is not a file, exit 1
    ReadConfig,
};

// Decides what the command line asks for; the path token goes to acn_Path.
CliAction e_Cli_Parse(int s32_Argc, const char* const* ppc_Argv, char (&acn_Path)[XLOCD_PATH_SIZE]);

void v_Cli_PrintUsageError(FILE* pt_Out);
void v_Cli_PrintVersion(FILE* pt_Out);
void v_Cli_PrintHelp(FILE* pt_Out);
void v_Cli_PrintManual(FILE* pt_Out);
