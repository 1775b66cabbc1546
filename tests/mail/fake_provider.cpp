// Stand-in providers for the Send command's tests. Each call is appended as a line to the file that
// FAKE_MAPI_LOG names, and so are the library's loading and unloading. Built twice: without
// MAPILogon (FAKE_NO_LOGON), and with a send that reports the user's cancel.
#include <cstdarg>
#include <cstdio>
#include <cstdlib>

#include "platform/mapi/mapi.h"

namespace {

void Log(const char* format, ...) __attribute__((format(printf, 1, 2)));
void Log(const char* format, ...) {
    const char* path = std::getenv("FAKE_MAPI_LOG");
    FILE* f = path ? std::fopen(path, "a") : nullptr;
    if (!f) return;
    va_list args;
    va_start(args, format);
    std::vfprintf(f, format, args);
    va_end(args);
    std::fputc('\n', f);
    std::fclose(f);
}

__attribute__((constructor)) void Loaded() {
    Log("load");
}
__attribute__((destructor)) void Unloaded() {
    Log("unload");
}

}  // namespace

extern "C" {

#ifndef FAKE_NO_LOGON
__attribute__((visibility("default"))) ULONG MAPILogon(ULONG_PTR, char* profile, char* password, FLAGS flags,
                                                       ULONG, LPLHANDLE session) {
    Log("logon flags=%u profile=%s password=%s", flags, profile ? profile : "null",
        password ? password : "null");
    *session = 42;
    return SUCCESS_SUCCESS;
}
#endif

__attribute__((visibility("default"))) ULONG MAPISendMail(LHANDLE session, ULONG_PTR, lpMapiMessage m,
                                                          FLAGS flags, ULONG) {
    const MapiFileDesc& f = m->lpFiles[0];
    Log("send session=%lu flags=%u subject=%s recipients=%u files=%u name=%s position=%x path=%s",
        (unsigned long)session, flags, m->lpszSubject, m->nRecipCount, m->nFileCount, f.lpszFileName,
        f.nPosition, f.lpszPathName);
    Log("note=%s", m->lpszNoteText);
    return MAPI_USER_ABORT;
}

__attribute__((visibility("default"))) ULONG MAPILogoff(LHANDLE, ULONG_PTR, FLAGS, ULONG) {
    Log("logoff");
    return SUCCESS_SUCCESS;
}
}
