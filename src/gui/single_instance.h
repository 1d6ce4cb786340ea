// SPDX-License-Identifier: Apache-2.0
#pragma once
// One vortan-updater per user session: a launch first offers its package to a running window
// over a local socket in $XDG_RUNTIME_DIR, and only becomes the window itself when no window
// answers. The socket's folder belongs to the user alone, so no other user can hand over files.
//
// A launch holds a lock file from its first try to connect until it listens, so two launches at
// once never both become windows. A socket left behind by a crash refuses connections and is
// removed before listening.
#include <QLocalServer>
#include <QLockFile>
#include <QObject>
#include <QString>
#include <functional>
#include <memory>

namespace vortan {

// The socket of the real window, or with `simulate` the one shared by --simulate windows.
QString InstanceSocketPath(bool simulate);

enum class Handover { kHandedOver, kNoneRunning, kNoAnswer };

// Holds the start-up lock from construction until Listen (or destruction).
class SingleInstance final : public QObject {
 public:
  explicit SingleInstance(QString socketPath);
  ~SingleInstance() override;

  // Offers `package` (an absolute path, or empty to only bring the window forward) to a window
  // already listening. Works without a QApplication. kNoAnswer: a window took the connection
  // but did not acknowledge within `timeoutMs`.
  Handover HandTo(const QString& package, int timeoutMs = 5000);

  // Needs a QApplication. Listens for later launches and calls `onRequest` on the main thread
  // with each package handed over (empty: none). False when the socket cannot be made; the
  // program then runs without the guard.
  bool Listen(std::function<void(const QString& package)> onRequest);

 private:
  QString path_;
  std::unique_ptr<QLockFile> lock_;
  QLocalServer* server_ = nullptr;
};

}  // namespace vortan
