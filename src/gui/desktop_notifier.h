// SPDX-License-Identifier: Apache-2.0
#pragma once
// Tells the desktop that something ended while the user looked elsewhere: one notification
// through org.freedesktop.Notifications on the session bus, sent without waiting for an answer.
// Where the session offers no bus (or no notification service), nothing is shown and nothing
// fails.
#include <QDBusConnection>
#include <QString>

namespace vortan {

class DesktopNotifier {
 public:
  explicit DesktopNotifier(QDBusConnection bus = QDBusConnection::sessionBus())
      : bus_(std::move(bus)) {}

  // False when there is no bus to send it on.
  bool Notify(const QString& summary, const QString& body);

 private:
  QDBusConnection bus_;
};

}  // namespace vortan
