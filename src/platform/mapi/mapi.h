/* Simple MAPI as the program and its mail providers share it: the message, attachment and
   recipient records, the flags and result codes, and the three entry points a provider exports
   with C linkage. Plain C so that a provider can be written in either language. */
#ifndef QUILLORY_PLATFORM_MAPI_H
#define QUILLORY_PLATFORM_MAPI_H

#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

typedef uint32_t ULONG;
typedef uint32_t FLAGS;
typedef uintptr_t ULONG_PTR;
typedef uintptr_t LHANDLE;
typedef LHANDLE* LPLHANDLE;

/* Recipient classes. */
#define MAPI_ORIG 0
#define MAPI_TO 1
#define MAPI_CC 2
#define MAPI_BCC 3

typedef struct {
    ULONG ulReserved;   /* 0 */
    ULONG ulRecipClass; /* MAPI_ORIG, MAPI_TO, MAPI_CC or MAPI_BCC */
    char* lpszName;     /* display name, may be null */
    char* lpszAddress;  /* "name@host", optionally prefixed "SMTP:" */
    ULONG ulEIDSize;    /* 0: entry ids are not used */
    void* lpEntryID;
} MapiRecipDesc, *lpMapiRecipDesc;

typedef struct {
    ULONG ulReserved;   /* 0 */
    ULONG flFlags;      /* 0 */
    ULONG nPosition;    /* (ULONG)-1: not placed in the note text */
    char* lpszPathName; /* the file on disk */
    char* lpszFileName; /* the name the recipient sees; null: the file's own name */
    void* lpFileType;   /* null */
} MapiFileDesc, *lpMapiFileDesc;

typedef struct {
    ULONG ulReserved;
    char* lpszSubject;
    char* lpszNoteText;
    char* lpszMessageType;
    char* lpszDateReceived;
    char* lpszConversationID;
    FLAGS flFlags;
    lpMapiRecipDesc lpOriginator; /* the sender; null: the account's own */
    ULONG nRecipCount;
    lpMapiRecipDesc lpRecips;
    ULONG nFileCount;
    lpMapiFileDesc lpFiles;
} MapiMessage, *lpMapiMessage;

/* Flags. */
#define MAPI_LOGON_UI 0x00000001
#define MAPI_NEW_SESSION 0x00000002
#define MAPI_DIALOG 0x00000008

/* Results. */
#define SUCCESS_SUCCESS 0
#define MAPI_USER_ABORT 1
#define MAPI_E_FAILURE 2
#define MAPI_E_LOGIN_FAILURE 3
#define MAPI_E_DISK_FULL 4
#define MAPI_E_INSUFFICIENT_MEMORY 5
#define MAPI_E_ACCESS_DENIED 6
#define MAPI_E_TOO_MANY_SESSIONS 8
#define MAPI_E_TOO_MANY_FILES 9
#define MAPI_E_TOO_MANY_RECIPIENTS 10
#define MAPI_E_ATTACHMENT_NOT_FOUND 11
#define MAPI_E_ATTACHMENT_OPEN_FAILURE 12
#define MAPI_E_ATTACHMENT_WRITE_FAILURE 13
#define MAPI_E_UNKNOWN_RECIPIENT 14
#define MAPI_E_BAD_RECIPTYPE 15
#define MAPI_E_TEXT_TOO_LARGE 18
#define MAPI_E_INVALID_SESSION 19
#define MAPI_E_NETWORK_FAILURE 23
#define MAPI_E_INVALID_RECIPS 25
#define MAPI_E_NOT_SUPPORTED 26

/* The entry points. ulUIParam is the window that owns the provider's dialogs (0 for none).
   MAPILogon's profile name names an account (null: the provider's own); with MAPI_LOGON_UI the
   provider may ask the user. MAPISendMail with MAPI_DIALOG lets the user address and edit the
   message first. */
typedef ULONG (*LPMAPILOGON)(ULONG_PTR ulUIParam, char* lpszProfileName, char* lpszPassword, FLAGS flFlags,
                             ULONG ulReserved, LPLHANDLE lplhSession);
typedef ULONG (*LPMAPISENDMAIL)(LHANDLE lhSession, ULONG_PTR ulUIParam, lpMapiMessage lpMessage,
                                FLAGS flFlags, ULONG ulReserved);
typedef ULONG (*LPMAPILOGOFF)(LHANDLE lhSession, ULONG_PTR ulUIParam, FLAGS flFlags, ULONG ulReserved);

#ifdef __cplusplus
}
#endif

#endif
