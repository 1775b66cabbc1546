// The subcommands of quillory-cli. Each command file registers itself with a static
// CommandRegistrar; the command takes the arguments after its name and returns the exit code.
#pragma once

#include <map>
#include <string>
#include <vector>

using Args = std::vector<std::string>;
using CommandFn = int (*)(const Args&);

struct CommandInfo {
    CommandFn run;
    std::string usage;  // the arguments, for the usage text
};

std::map<std::string, CommandInfo>& Commands();

struct CommandRegistrar {
    CommandRegistrar(const char* name, CommandFn fn, const char* usage) { Commands()[name] = {fn, usage}; }
};

// Lets the project being read take any video: a file the AVI reader cannot take (or, after a Yes, a
// mismatched AVI) is converted into the clips folder, as the studio does, with progress lines
// `import: frame N of M` and `clip PATH` / `reused PATH` on standard error.
void ConvertOtherVideosIntoProject();
