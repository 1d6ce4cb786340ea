// SPDX-License-Identifier: Apache-2.0
#include "gui/desktop_notifier.h"

#include <QDBusMessage>
#include <QStringList>
#include <QVariantMap>

namespace vortan {

bool DesktopNotifier::Notify(const QString& summary, const QString& body) {
  if (!bus_.isConnected()) return false;
  QDBusMessage call = QDBusMessage::createMethodCall(
      QStringLiteral("org.freedesktop.Notifications"),
      QStringLiteral("/org/freedesktop/Notifications"),
      QStringLiteral("org.freedesktop.Notifications"), QStringLiteral("Notify"));
  // app_name, replaces_id, app_icon, summary, body, actions, hints, expire_timeout (-1: the
  // server's default).
  call << QStringLiteral("VORTAN Updater") << 0u << QStringLiteral("org.vortan.updater") << summary
       << body << QStringList() << QVariantMap() << -1;
  return bus_.send(call);
}

}  // namespace vortan
