// The provider's windows: the account dialog, the password question, the send dialog and the
// progress of a long send. Every one is shown only when the process has a Qt application on this
// thread; headless callers get none of them (and errors on standard error).
#pragma once

#include <QWidget>
#include <string>

#include "mail/provider/account.h"
#include "mail/provider/delivery.h"

// Attachments at least this big show a progress window with Cancel while they are sent.
constexpr int64_t kProgressThresholdBytes = 4 * 1024 * 1024;

bool CanShowDialogs();
// The caller's window when uiParam is one of this process's widgets, else null.
QWidget* OwnerWidget(ULONG_PTR uiParam);

// The account dialog, filled from account; false when the user cancelled (account unchanged).
bool EditAccount(QWidget* owner, MailAccount& account);
// Asks for the account's password; remember is offered only when the keyring can keep it.
// False when the user cancelled.
bool AskPassword(QWidget* owner, const MailAccount& account, bool keyringUsable, std::string& password,
                 bool& remember);
// The send dialog: recipients, subject and note are editable, the attachments are listed with
// their sizes. accountChanged tells whether the user edited the account from it. False on Cancel.
bool EditMessage(QWidget* owner, OutgoingMail& mail, MailAccount& account, bool& accountChanged);
// Sends on a worker thread while this one keeps the windows alive; big attachments show progress
// with Cancel (MAPI_USER_ABORT).
DeliveryResult DeliverWithProgress(QWidget* owner, const MailAccount& account, const std::string& password,
                                   const OutgoingMail& mail);
// A warning box, or a line "Mail: TEXT" on standard error without a display.
void ShowMailError(QWidget* owner, const std::string& text);
