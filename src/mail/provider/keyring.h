// The account's password in the desktop's keyring (Secret Service or KWallet through QtKeychain).
// Needs a running Qt event loop; every call gives up after a few seconds.
#pragma once

#include <string>

#include "mail/provider/account.h"

enum class KeyringAnswer { Found, NotFound, Unavailable };

KeyringAnswer ReadKeyringPassword(const MailAccount& account, std::string& password);
// False when the keyring would not keep it.
bool WriteKeyringPassword(const MailAccount& account, const std::string& password);
void ForgetKeyringPassword(const MailAccount& account);
