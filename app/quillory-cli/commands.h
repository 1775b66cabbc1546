// The subcommands of quillory-cli. Each takes the arguments after its name and returns the exit code.
#pragma once

#include <string>
#include <vector>

using Args = std::vector<std::string>;

int CmdSettings(const Args& args);
