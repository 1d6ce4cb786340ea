// SPDX-License-Identifier: Apache-2.0
// The Qt tests need one QApplication for the whole program; without a display they run on the
// offscreen platform.
#include <gtest/gtest.h>

#include <QApplication>

#include "util/stop_signals.h"

int main(int argc, char** argv) {
  // As the program does: the window's tests send it stop signals.
  vortan::BlockStopSignals();
  if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
  QApplication app(argc, argv);
  ::testing::InitGoogleTest(&argc, argv);
  return RUN_ALL_TESTS();
}
