// The program's installed data folder: share/quillory of the tree the running program was
// installed into, found from the program's own location so an installed tree can be moved.
#pragma once

#include <string>

// The full path of name in the installed data folder when such a file exists there; empty
// otherwise (also when the program runs from its build folder).
std::string InstalledDataFile(const char* name);
