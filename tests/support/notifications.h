// Notifications recorded instead of shown on the desktop, for the scope of a test.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "platform/notify/notify.h"

struct RecordedNotifications : NotificationProvider {
    std::vector<std::string> summaries, bodies;
    void Show(const std::string& summary, const std::string& body, std::function<void()>) override {
        summaries.push_back(summary);
        bodies.push_back(body);
    }
};

// Installs a recorder while it lives; the provider before it comes back at its end.
class ScopedNotifications {
  public:
    ScopedNotifications() : previous_(SetNotificationProvider(recorder_)) {}
    ~ScopedNotifications() { SetNotificationProvider(previous_); }
    RecordedNotifications* operator->() const { return recorder_.get(); }

  private:
    std::shared_ptr<RecordedNotifications> recorder_ = std::make_shared<RecordedNotifications>();
    std::shared_ptr<NotificationProvider> previous_;
};
