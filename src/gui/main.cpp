// SPDX-License-Identifier: Apache-2.0
// vortan-updater: the desktop window that puts new firmware on a VORTAN keyboard.
#include <QApplication>
#include <QFileInfo>
#include <QStringList>
#include <cstdio>

#include "gui/updater_app.h"
#include "util/standard_streams.h"
#include "util/stop_signals.h"

int main(int argc, char** argv) {
  vortan::OpenClosedStandardStreams();
  // Before Qt or the update start threads of their own, so that they all inherit the blocked
  // stop signals.
  vortan::BlockStopSignals();
  // Help and version are answered before the window system is reached, so they work without a
  // display.
  QStringList rawArguments;
  for (int i = 0; i < argc; ++i) rawArguments << QString::fromLocal8Bit(argv[i]);
  vortan::GuiOptions options;
  QString message;
  switch (vortan::ParseGuiArguments(rawArguments, &options, &message)) {
    case vortan::ParseOutcome::kHelp:
      std::fputs(qPrintable(message), stdout);
      return 0;
    case vortan::ParseOutcome::kVersion:
      std::printf("vortan-updater %s\n", VORTAN_VERSION);
      return 0;
    default:
      break;  // Qt's own options are taken out by QApplication below
  }

  QApplication app(argc, argv);
  QApplication::setApplicationName(QStringLiteral("vortan-updater"));
  // No display name: Qt would append it to every title, and the title is the caption alone.
  QApplication::setApplicationVersion(QStringLiteral(VORTAN_VERSION));
  QApplication::setDesktopFileName(QStringLiteral("org.vortan.updater"));
  options = {};
  if (vortan::ParseGuiArguments(QApplication::arguments(), &options, &message) !=
      vortan::ParseOutcome::kRun) {
    std::fputs(qPrintable(message), stderr);
    return 2;
  }
  vortan::SingleInstance instance(vortan::InstanceSocketPath(options.simulation.Simulated()));
  const QString package =
      options.package.isEmpty() ? QString() : QFileInfo(options.package).absoluteFilePath();
  switch (instance.HandTo(package)) {
    case vortan::Handover::kHandedOver:
      return 0;
    case vortan::Handover::kNoAnswer:
      std::fputs("Another vortan-updater is running but does not answer.\n", stderr);
      return 1;
    case vortan::Handover::kNoneRunning:
      break;
  }
  vortan::UpdaterApp updater(options);
  // Before the launch, whose store error alert would otherwise keep later launches waiting.
  if (!updater.ListenForLaterLaunches(instance)) {
    std::fputs("Cannot listen for later launches; a second window may start.\n", stderr);
  }
  updater.Start();
  return QApplication::exec();
}
