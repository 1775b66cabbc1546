// Stand-in providers for the Send command's tests: every call, and the library's loading and
// unloading, is appended as a line to the file FAKE_MAPI_LOG names. Built twice: without MAPILogon
// (FAKE_NO_LOGON), and with a send that reports the user's cancel.
#include <cstdio>
#include <cstdlib>

#include "platform/mapi/mapi.h"

#define LOG(...)                                                                                      \
    if (FILE* logFile =                                                                               \
            std::getenv("FAKE_MAPI_LOG") ? std::fopen(std::getenv("FAKE_MAPI_LOG"), "a") : nullptr) { \
        std::fprintf(logFile, __VA_ARGS__);                                                           \
        std::fclose(logFile);                                                                         \
    }
#define EXPORT extern "C" __attribute__((visibility("default")))

__attribute__((constructor)) static void Loaded() {
    LOG("load\n");
}
__attribute__((destructor)) static void Unloaded() {
    LOG("unload\n");
}

#ifndef FAKE_NO_LOGON
EXPORT ULONG MAPILogon(ULONG_PTR, char* profile, char* password, FLAGS flags, ULONG, LPLHANDLE session) {
    LOG("logon flags=%u profile=%s password=%s\n", flags, profile ? profile : "null",
        password ? password : "null");
    *session = 42;
    return SUCCESS_SUCCESS;
}
#endif

EXPORT ULONG MAPISendMail(LHANDLE session, ULONG_PTR, lpMapiMessage m, FLAGS flags, ULONG) {
    const MapiFileDesc& f = m->lpFiles[0];
    LOG("send session=%lu flags=%u subject=%s recipients=%u files=%u name=%s position=%x path=%s\nnote=%s\n",
        static_cast<unsigned long>(session), flags, m->lpszSubject, m->nRecipCount, m->nFileCount,
        f.lpszFileName, f.nPosition, f.lpszPathName, m->lpszNoteText);
    return MAPI_USER_ABORT;
}

EXPORT ULONG MAPILogoff(LHANDLE, ULONG_PTR, FLAGS, ULONG) {
    LOG("logoff\n");
    return SUCCESS_SUCCESS;
}
