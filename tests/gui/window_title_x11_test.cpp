// SPDX-License-Identifier: Apache-2.0
// The real program on an X server: the titles the window system receives (_NET_WM_NAME, what
// title bars and task bars show), not only the widget property. Needs Xvfb, xwininfo and xprop;
// skipped only where Xvfb is not installed.
#include <gtest/gtest.h>

#include <QProcess>
#include <QRegularExpression>
#include <QStandardPaths>
#include <QStringList>
#include <QThread>
#include <filesystem>
#include <string>

#include "support/temp_dir.h"

namespace vortan {
namespace {

QString Run(const QString& program, const QStringList& arguments, const QString& display) {
  QProcess process;
  QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
  env.insert("DISPLAY", display);
  process.setProcessEnvironment(env);
  process.start(program, arguments);
  process.waitForFinished(10000);
  return QString::fromUtf8(process.readAllStandardOutput());
}

// The _NET_WM_NAME of every child of the root window that has one.
QStringList WindowTitles(const QString& display) {
  QStringList titles;
  const QRegularExpression id(QStringLiteral("^\\s+(0x[0-9a-f]+) "));
  const QRegularExpression name(QStringLiteral("_NET_WM_NAME\\(UTF8_STRING\\) = \"(.*)\""));
  const QStringList lines = Run("xwininfo", {"-root", "-children"}, display).split('\n');
  for (const QString& line : lines) {
    const QRegularExpressionMatch window = id.match(line);
    if (!window.hasMatch()) continue;
    const QString property = Run("xprop", {"-id", window.captured(1), "_NET_WM_NAME"}, display);
    const QRegularExpressionMatch title = name.match(property);
    if (title.hasMatch()) titles << title.captured(1);
  }
  return titles;
}

TEST(WindowTitleOnX11Test, IsTheCaptionAloneForTheWindowAndItsAlerts) {
  if (QStandardPaths::findExecutable("Xvfb").isEmpty()) GTEST_SKIP() << "Xvfb is not installed";
  QProcess xvfb;  // should a check end the test early, its destructor kills the server
  // -displayfd picks a free display and tells its number on stdout once it accepts clients.
  xvfb.start("Xvfb", {"-displayfd", "1", "-nolisten", "tcp", "-screen", "0", "1024x768x24"});
  ASSERT_TRUE(xvfb.waitForStarted(10000) && xvfb.waitForReadyRead(10000)) << "Xvfb did not start";
  const QString display = ":" + QString::fromUtf8(xvfb.readLine()).trimmed();

  struct Row {
    std::string settings;
    QString caption;
  };
  const std::vector<Row> rows = {
      {"", "VORTAN KB 25 Firmware Update"},
      {"IDS_STRING_CAPTION = Held-out caption 7\n", "Held-out caption 7"},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.caption.toStdString());
    testing::TempDir dir;
    std::filesystem::permissions(dir.path(), std::filesystem::perms::owner_all);
    const std::string config = dir.File("Config.ini");
    ASSERT_TRUE(testing::WriteText(config, row.settings));
    QProcess updater;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert("DISPLAY", display);
    env.insert("QT_QPA_PLATFORM", "xcb");
    env.insert("XDG_RUNTIME_DIR", QString::fromStdString(dir.path().string()));
    env.insert("XDG_DATA_HOME", QString::fromStdString(dir.File("data")));
    updater.setProcessEnvironment(env);
    // A missing package named at start: the window and its "Unable to open" alert.
    updater.start(VORTAN_UPDATER_PATH, {"--simulate", "--config", QString::fromStdString(config),
                                        QString::fromStdString(dir.File("missing.dat"))});
    ASSERT_TRUE(updater.waitForStarted(10000));

    QStringList titles;
    for (int tries = 0; tries < 150 && titles.count(row.caption) < 2; ++tries) {
      QThread::msleep(200);
      titles = WindowTitles(display);
    }
    updater.kill();
    updater.waitForFinished(5000);
    // The window's and its alert's, each exactly the caption.
    EXPECT_EQ(titles.count(row.caption), 2) << titles.join(" | ").toStdString();
  }
  xvfb.kill();
  xvfb.waitForFinished(5000);
}

}  // namespace
}  // namespace vortan
