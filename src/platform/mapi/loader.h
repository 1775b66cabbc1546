// Loading a library at run time, as LoadLibrary, GetProcAddress and FreeLibrary do on Windows:
// dlopen, dlsym and dlclose. The name "MAPI32.DLL" stands for the mail provider.
#pragma once

#include <string>

using HMODULE = void*;

// The file name of the program's own mail provider.
constexpr const char* kMailProviderFile = "libquillory-mapi.so";
// The name the mail code loads; LoadLibraryA maps it onto MailProviderPath().
constexpr const char* kMapiLibraryName = "MAPI32.DLL";

// The provider to load: QUILLORY_MAPI when set, else the provider beside the program (in the build)
// or in the installed tree's lib/quillory; empty when there is none.
std::string MailProviderPath();
// True when MailProviderPath() names a readable file.
bool MailProviderPresent();

// Null when the library cannot be loaded (the reason goes to the debug log).
HMODULE LoadLibraryA(const char* name);
// Null when the library has no such symbol.
void* GetProcAddress(HMODULE module, const char* name);
// False when the library could not be unloaded.
bool FreeLibrary(HMODULE module);

// The profile name under which the program's provider logs on to an SMTP account without asking:
// the server's URL ("smtp://host:port" or "smtps://host:port") with the user name, when there is
// one, and a CA certificates file, when one is named ("?cacert=FILE"), percent-encoded.
std::string SmtpProfileName(const std::string& url, const std::string& user, const std::string& caFile);
