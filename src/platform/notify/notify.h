// Desktop notifications: a short note through org.freedesktop.Notifications on the session bus when
// long work ends while the user is elsewhere; activating it raises the program's window. Without a
// session bus or a notification service nothing happens and nothing is reported.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>

class QWidget;

// Shows notifications; the desktop's service by default, a recorder in tests.
class NotificationProvider {
  public:
    virtual ~NotificationProvider() = default;
    // activated runs on the user-interface thread when the user activates the notification.
    virtual void Show(const std::string& summary, const std::string& body,
                      std::function<void()> activated) = 0;
};
// Installs the provider every notification goes through; returns the previous one. Null restores
// the desktop's service.
std::shared_ptr<NotificationProvider> SetNotificationProvider(std::shared_ptr<NotificationProvider> provider);
// The desktop's service over Qt D-Bus (a QCoreApplication must exist).
std::shared_ptr<NotificationProvider> DesktopNotifications();

// Work that ran longer than this, and ended while none of the program's windows was active, is
// worth a notification.
constexpr int64_t kLongWorkMs = 10000;
// Shows summary and body when elapsedMs is more than the long-work time (tests lower it) and no
// window of the program is active; activating it raises window (the active modal dialog over it,
// if any). True when a notification was sent.
bool NotifyWhenUnattended(QWidget* window, int64_t elapsedMs, const std::string& summary,
                          const std::string& body = {});
void SetLongWorkMs(int64_t ms);
