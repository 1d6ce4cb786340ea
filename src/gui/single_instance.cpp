// SPDX-License-Identifier: Apache-2.0
#include "gui/single_instance.h"

#include <QDir>
#include <QElapsedTimer>
#include <QLocalSocket>
#include <QStandardPaths>
#include <QTimer>
#include <QUrl>

namespace vortan {
namespace {

// One request is one line: the package path, percent-encoded so any file name fits a line.
constexpr char kAcknowledgement[] = "ok\n";
constexpr qint64 kMaxRequestBytes = 64 * 1024;
// A connection that sends no whole line in this time is dropped.
constexpr int kRequestTimeoutMs = 5000;

}  // namespace

QString InstanceSocketPath(bool simulate) {
  // $XDG_RUNTIME_DIR, or Qt's private 0700 fallback when the session has none.
  const QString folder = QStandardPaths::writableLocation(QStandardPaths::RuntimeLocation);
  return QDir(folder).filePath(simulate ? QStringLiteral("org.vortan.updater-simulate.socket")
                                        : QStringLiteral("org.vortan.updater.socket"));
}

SingleInstance::SingleInstance(QString socketPath)
    : path_(std::move(socketPath)),
      lock_(std::make_unique<QLockFile>(path_ + QStringLiteral(".lock"))) {
  // A launch that cannot get the lock in time goes on without it rather than never starting;
  // a lock left by a crashed launch is recognised by its dead process and taken over.
  lock_->tryLock(5000);
}

SingleInstance::~SingleInstance() = default;

Handover SingleInstance::HandTo(const QString& package, int timeoutMs) {
  QLocalSocket socket;
  socket.connectToServer(path_);
  // A socket file left by a crash refuses at once; only a live window accepts.
  if (!socket.waitForConnected(timeoutMs)) return Handover::kNoneRunning;
  socket.write(QUrl::toPercentEncoding(package) + '\n');
  QElapsedTimer elapsed;
  elapsed.start();
  while (!socket.canReadLine()) {
    const int left = timeoutMs - static_cast<int>(elapsed.elapsed());
    if (left <= 0 || !socket.waitForReadyRead(left)) return Handover::kNoAnswer;
  }
  return socket.readLine() == kAcknowledgement ? Handover::kHandedOver : Handover::kNoAnswer;
}

bool SingleInstance::Listen(std::function<void(const QString& package)> onRequest) {
  server_ = new QLocalServer(this);
  server_->setSocketOptions(QLocalServer::UserAccessOption);
  QLocalServer::removeServer(path_);
  const bool listening = server_->listen(path_);
  if (lock_->isLocked()) lock_->unlock();
  if (!listening) return false;
  connect(server_, &QLocalServer::newConnection, this, [this, onRequest] {
    while (QLocalSocket* client = server_->nextPendingConnection()) {
      connect(client, &QLocalSocket::disconnected, client, &QObject::deleteLater);
      QTimer::singleShot(kRequestTimeoutMs, client, [client] { client->abort(); });
      connect(client, &QLocalSocket::readyRead, this, [this, client, onRequest] {
        if (!client->canReadLine()) {
          if (client->bytesAvailable() > kMaxRequestBytes) client->abort();
          return;
        }
        const QString package =
            QUrl::fromPercentEncoding(client->readLine(kMaxRequestBytes).trimmed());
        client->write(kAcknowledgement);
        client->disconnectFromServer();
        // After the reply, so the later launch ends at once even when an alert follows.
        QTimer::singleShot(0, this, [onRequest, package] { onRequest(package); });
      });
    }
  });
  return true;
}

}  // namespace vortan
