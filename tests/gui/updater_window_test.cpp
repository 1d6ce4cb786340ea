#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QElapsedTimer>
#include <QFileDialog>
#include <QLineEdit>
#include <QMessageBox>
#include <QMimeData>
#include <QProgressBar>
#include <QPushButton>
#include <QUrl>
#include <string>
#include <vector>

#include "gui/modal.h"
#include "gui/updater_app.h"
#include "link/clock.h"
#include "support/package_fixtures.h"
#include "support/temp_dir.h"

namespace vortan {
namespace {

// Answers every modal dialog as a user would: picks `package` in the file panel and dismisses
// each alert, keeping its texts.
class ScriptedUser {
 public:
  explicit ScriptedUser(std::string package) : package_(std::move(package)) {
    previous_ = SetModalHookForTesting([this](QDialog& dialog) { return Answer(dialog); });
  }
  ~ScriptedUser() { SetModalHookForTesting(previous_); }

  std::vector<std::string> alerts;
  QStringList panelFilters;

 private:
  int Answer(QDialog& dialog) {
    if (auto* panel = qobject_cast<QFileDialog*>(&dialog)) {
      panelFilters = panel->nameFilters();
      panel->selectFile(QString::fromStdString(package_));
      return QDialog::Accepted;
    }
    if (auto* box = qobject_cast<QMessageBox*>(&dialog)) {
      alerts.push_back((box->text() + " / " + box->informativeText()).toStdString());
      return QMessageBox::Ok;
    }
    return QDialog::Rejected;
  }

  std::string package_;
  ModalHook previous_;
};

// Runs the main thread's event loop until `done` holds or a generous deadline passes.
template <typename Done>
bool PumpUntil(Done done) {
  QElapsedTimer timer;
  timer.start();
  while (!done()) {
    if (timer.elapsed() > 60000) return false;
    QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
  }
  return true;
}

TEST(UpdaterWindow, UpdatesTheSimulatedKeyboardFromTheRealWindow) {
  testing::TempDir dir;
  VirtualClock clock;  // the half-second pauses and the erase waits cost no real time
  ScopedProcessClock useClock(&clock);
  const std::string package = testing::WritePackage(dir, "kb25.dat", testing::TwoPackPackage());
  const std::string config = dir.File("Config.ini");
  ASSERT_TRUE(testing::WriteText(config, "IDS_STRING_CAPTION = KB 25 Test Bench\n"));

  GuiOptions options;
  QString message;
  ASSERT_EQ(ParseGuiArguments(
                {"vortan-updater", "--simulate", "--config", QString::fromStdString(config)},
                &options, &message),
            ParseOutcome::kRun);
  options.workFolder = dir.path().string();
  options.filesDirectory = dir.path() / "data" / kApplicationId;
  ScriptedUser user(package);
  UpdaterApp app(options);
  app.Start();
  QtMainWindowView& view = app.View();
  EXPECT_EQ(view.windowTitle(), "KB 25 Test Bench");
  EXPECT_TRUE(user.alerts.empty()) << user.alerts.front();

  view.ButtonFor(Button::kOpen)->click();
  EXPECT_EQ(user.panelFilters, QStringList{"Open the update file (*.dat)"});
  EXPECT_EQ(view.FieldFor(TextField::kPath)->text().toStdString(), package);
  EXPECT_EQ(view.FieldFor(TextField::kProductModel)->text(), "VORTAN KB 25");
  EXPECT_EQ(view.FieldFor(TextField::kDeviceStatus)->text(), "Device connected. Press \"Update\"");
  ASSERT_TRUE(view.ButtonFor(Button::kUpdate)->isEnabled())
      << ::testing::PrintToString(user.alerts);

  view.ButtonFor(Button::kUpdate)->click();
  EXPECT_FALSE(view.ButtonFor(Button::kOpen)->isEnabled());
  EXPECT_FALSE(view.close()) << "the window stays open while the update runs";
  ASSERT_TRUE(PumpUntil([&] { return !app.Window().IsRunActive(); }));

  ASSERT_FALSE(user.alerts.empty());
  EXPECT_EQ(user.alerts.back(), "Information / Update Success!");
  QProgressBar* bar = view.ProgressBar();
  EXPECT_GT(bar->maximum(), 2);
  EXPECT_EQ(bar->value(), bar->maximum());
  EXPECT_TRUE(view.ButtonFor(Button::kUpdate)->isEnabled());
  EXPECT_TRUE(view.close());
}

TEST(UpdaterWindow, OpensADroppedPackageAndIgnoresOtherFiles) {
  testing::TempDir dir;
  const std::string package = testing::WritePackage(dir, "KB25.DAT", testing::OnePackPackage());
  const std::string other = dir.File("notes.txt");
  ASSERT_TRUE(testing::WriteText(other, "x"));
  GuiOptions options;
  options.simulate = true;
  options.workFolder = dir.path().string();
  options.filesDirectory = dir.path() / "data" / kApplicationId;
  ScriptedUser user(package);
  UpdaterApp app(options);
  app.Start();
  QtMainWindowView& view = app.View();

  auto drop = [&view](const std::string& path) {
    QMimeData mime;
    mime.setUrls({QUrl::fromLocalFile(QString::fromStdString(path))});
    QDragEnterEvent enter(QPoint(10, 10), Qt::CopyAction, &mime, Qt::LeftButton, Qt::NoModifier);
    QCoreApplication::sendEvent(&view, &enter);
    if (!enter.isAccepted()) return false;
    QDropEvent event(QPointF(10, 10), Qt::CopyAction, &mime, Qt::LeftButton, Qt::NoModifier);
    QCoreApplication::sendEvent(&view, &event);
    QCoreApplication::processEvents();
    return true;
  };
  EXPECT_FALSE(drop(other));
  EXPECT_TRUE(view.FieldFor(TextField::kPath)->text().isEmpty());
  EXPECT_TRUE(drop(package));
  EXPECT_EQ(view.FieldFor(TextField::kPath)->text().toStdString(), package);
  EXPECT_EQ(view.FieldFor(TextField::kDeviceStatus)->text(), "Device connected. Press \"Update\"");
  EXPECT_TRUE(user.alerts.empty());
}

}  // namespace
}  // namespace vortan
