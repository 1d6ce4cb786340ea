// SPDX-License-Identifier: Apache-2.0
#include "gui/sleep_inhibitor.h"

#include <unistd.h>

#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusReply>
#include <QDBusUnixFileDescriptor>

namespace vortan {
namespace {
// A login manager that does not answer within this time is treated as absent; the update
// must not wait on it.
constexpr int kCallTimeoutMs = 2000;
}  // namespace

bool SleepInhibitor::Acquire() {
  if (Held()) return true;
  QDBusConnection bus = QDBusConnection::systemBus();
  if (!bus.isConnected()) return false;
  // A plain method call: no introspection round trip before it.
  QDBusMessage call = QDBusMessage::createMethodCall(
      QStringLiteral("org.freedesktop.login1"), QStringLiteral("/org/freedesktop/login1"),
      QStringLiteral("org.freedesktop.login1.Manager"), QStringLiteral("Inhibit"));
  call << QStringLiteral("sleep:shutdown") << QStringLiteral("VORTAN Updater")
       << QStringLiteral("Firmware update in progress") << QStringLiteral("block");
  const QDBusReply<QDBusUnixFileDescriptor> reply = bus.call(call, QDBus::Block, kCallTimeoutMs);
  if (!reply.isValid() || !reply.value().isValid()) return false;
  // The reply object closes its descriptor when destroyed; keep a duplicate for the lock.
  fd_ = ::dup(reply.value().fileDescriptor());
  return fd_ >= 0;
}

void SleepInhibitor::Release() {
  if (fd_ < 0) return;
  ::close(fd_);
  fd_ = -1;
}

}  // namespace vortan
