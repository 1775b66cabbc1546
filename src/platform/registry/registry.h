// The registry below HKEY_LOCAL_MACHINE, kept in one readable .reg-style text file of REG_SZ
// values: $XDG_CONFIG_HOME/Brellmont/Quillory/registry.reg, or the file QUILLORY_REGISTRY names.
// Key paths use backslashes and compare without regard to letter case, as on Windows.
#pragma once

#include <cstdint>
#include <string>

struct RegKeyHandle;
using HKEY = RegKeyHandle*;
using LONG = int32_t;

extern HKEY const HKEY_LOCAL_MACHINE;

constexpr LONG ERROR_SUCCESS = 0;
constexpr LONG ERROR_FILE_NOT_FOUND = 2;
constexpr LONG ERROR_ACCESS_DENIED = 5;
constexpr LONG ERROR_INVALID_HANDLE = 6;
constexpr LONG ERROR_WRITE_FAULT = 29;
constexpr LONG ERROR_INVALID_PARAMETER = 87;
constexpr LONG ERROR_MORE_DATA = 234;

constexpr uint32_t REG_SZ = 1;
constexpr uint32_t REG_CREATED_NEW_KEY = 1;
constexpr uint32_t REG_OPENED_EXISTING_KEY = 2;

LONG RegOpenKeyExA(HKEY parent, const char* subKey, HKEY* result);
// Creates the key and its missing parents; disposition (may be null) says which happened.
LONG RegCreateKeyExA(HKEY parent, const char* subKey, HKEY* result, uint32_t* disposition);
// Copies the stored bytes (no terminator is added). A null data pointer asks for the size only;
// a buffer that is too small gives ERROR_MORE_DATA and the needed size.
LONG RegQueryValueExA(HKEY key, const char* name, uint32_t* type, uint8_t* data, uint32_t* size);
LONG RegSetValueExA(HKEY key, const char* name, uint32_t type, const uint8_t* data, uint32_t size);
// Closing the last open key writes pending changes to the file.
LONG RegCloseKey(HKEY key);
// Writes pending changes now: a temporary file beside the old one, flushed, renamed over it.
LONG RegFlushKey(HKEY key);

// The file in use, and a switch to another one (tests); pending changes are dropped.
std::string RegistryFilePath();
void RegistryUseFile(const std::string& path);
// True when the file read last could not be read whole; it is set aside at the next write.
bool RegistryFileWasDamaged();
// The errno of the last write of the file that failed; 0 when the last one worked.
int RegistryWriteError();
// The text the next write puts in the file: every key and value as they stand.
std::string RegistryText();
