// SPDX-License-Identifier: Apache-2.0
#include <gtest/gtest.h>
#include <signal.h>
#include <unistd.h>

#include <QAccessible>
#include <QApplication>
#include <QCoreApplication>
#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusVirtualObject>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QFileDialog>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QMimeData>
#include <QProcess>
#include <QProgressBar>
#include <QPushButton>
#include <QScreen>
#include <QSignalSpy>
#include <QStandardPaths>
#include <QTest>
#include <QTimer>
#include <QUrl>
#include <algorithm>
#include <filesystem>
#include <functional>
#include <map>
#include <mutex>
#include <string>
#include <utility>
#include <vector>

#include "gui/desktop_notifier.h"
#include "gui/modal.h"
#include "gui/read_only_field.h"
#include "gui/updater_app.h"
#include "support/package_fixtures.h"
#include "support/temp_dir.h"
#include "util/clock.h"

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
  int panels = 0;
  int modalAlerts = 0;  // alerts exposed as alerts marked modal
  // When set, an alert that says an update is running stays open (as a user may leave it) after
  // calling this; a safety timer rejects it after a while.
  std::function<void()> holdRunningAlert;

 private:
  int Answer(QDialog& dialog) {
    if (auto* panel = qobject_cast<QFileDialog*>(&dialog)) {
      panelFilters = panel->nameFilters();
      if (auto* message = panel->findChild<QLabel*>("panelMessage")) {
        panelFilters << "message: " + message->text();
      }
      ++panels;
      panel->selectFile(QString::fromStdString(package_));
      return QDialog::Accepted;
    }
    if (auto* box = qobject_cast<QMessageBox*>(&dialog)) {
      QAccessibleInterface* alert = QAccessible::queryAccessibleInterface(box);
      modalAlerts += alert->role() == QAccessible::AlertMessage && alert->state().modal;
      QString text = box->text() + " / " + box->informativeText();
      if (!box->detailedText().isEmpty()) text += " / " + box->detailedText();
      for (QWidget* other : QApplication::topLevelWidgets()) {
        if (other != box && other->isVisible() && qobject_cast<QMessageBox*>(other)) {
          text += " [over another alert]";
        }
      }
      alerts.push_back(text.toStdString());
      if (holdRunningAlert && box->text().endsWith("is running")) {
        std::exchange(holdRunningAlert, nullptr)();
        QTimer::singleShot(20000, box, &QDialog::reject);
        return box->exec();
      }
      return QMessageBox::Ok;
    }
    return QDialog::Rejected;
  }

  std::string package_;
  ModalHook previous_;
};

// Virtual time whose sleeps wait while the test holds the gate: holds an update run midway.
class GatedClock final : public Clock {
 public:
  void Sleep(std::chrono::milliseconds duration) override {
    std::lock_guard pass(gate);
    time_.Sleep(duration);
  }
  std::chrono::milliseconds Now() const override { return time_.Now(); }

  std::mutex gate;

 private:
  VirtualClock time_;
};

// Runs the main thread's event loop until `done` holds or a generous deadline passes.
template <typename Done>
bool PumpUntil(Done done) {
  return QTest::qWaitFor(done, 60000);
}

// The simulated keyboard's window with its files in `dir`, started, and a user who picks
// `package` in its file panel.
struct SimulatedWindow {
  SimulatedWindow(const testing::TempDir& dir, const std::string& package, GuiOptions options = {})
      : user(package), app(InFolder(std::move(options), dir)), view(app.View()) {
    app.Start();
  }
  static GuiOptions InFolder(GuiOptions options, const testing::TempDir& dir) {
    options.simulation.simulate = true;
    options.workFolder = dir.path().string();
    options.filesDirectory = dir.path() / "data" / kApplicationId;
    return options;
  }

  ScriptedUser user;
  UpdaterApp app;
  QtMainWindowView& view;
};

// Drops the file at `path` on `view`; false if the window refuses it as the drag enters.
bool Drop(QWidget& view, const std::string& path) {
  QMimeData mime;
  mime.setUrls({QUrl::fromLocalFile(QString::fromStdString(path))});
  QDragEnterEvent enter(QPoint(10, 10), Qt::CopyAction, &mime, Qt::LeftButton, Qt::NoModifier);
  QCoreApplication::sendEvent(&view, &enter);
  if (!enter.isAccepted()) return false;
  QDropEvent event(QPointF(10, 10), Qt::CopyAction, &mime, Qt::LeftButton, Qt::NoModifier);
  QCoreApplication::sendEvent(&view, &event);
  QCoreApplication::processEvents();
  return true;
}

// Guards against a stop signal cutting a running update off: each is refused as a close is, the
// run goes on to its end, and then the window closes and its work files go; also when the user
// leaves the refusal alert open (which must close itself when the run ends).
TEST(UpdaterWindowTest, OpensByPanelOrDropUpdatesAndStopSignalsDuringTheRunAwaitItsEnd) {
  testing::TempDir dir;
  GatedClock clock;  // no real pauses; its gate held, it holds the run in its first pause
  ScopedProcessClock useClock(&clock);
  const std::string package = testing::WritePackage(dir, "kb25.dat", testing::OnePackPackage());
  const std::string dropped = testing::WritePackage(dir, "KB25.DAT", testing::TwoPackPackage());
  const std::string other = dir.File("notes.txt");
  ASSERT_TRUE(testing::WriteText(other, "x"));
  SimulatedWindow w(dir, package);
  QtMainWindowView& view = w.view;
  std::vector<std::string>& alerts = w.user.alerts;
  EXPECT_TRUE(alerts.empty()) << alerts.front();

  view.ButtonFor(Button::kOpen)->click();
  // Guards against the panel's message read as the filter's name.
  EXPECT_EQ(w.user.panelFilters,
            (QStringList{"Update files (*.dat)", "message: Open the update file"}));
  EXPECT_EQ(view.FieldText(TextField::kPath).toStdString(), package);
  EXPECT_TRUE(Drop(view, other));
  // Guards against a dropped file of another kind ignored without a word.
  ASSERT_TRUE(PumpUntil([&] { return !alerts.empty(); }));
  EXPECT_EQ(alerts.back(), "Error / Not an update file (.dat): " + other);
  EXPECT_EQ(view.FieldText(TextField::kPath).toStdString(), package);
  alerts.clear();
  EXPECT_TRUE(Drop(view, dropped));
  EXPECT_EQ(view.FieldText(TextField::kPath).toStdString(), dropped);
  EXPECT_EQ(view.FieldText(TextField::kDeviceStatus), "Device connected. Press \"Update\"");
  ASSERT_TRUE(view.ButtonFor(Button::kUpdate)->isEnabled()) << ::testing::PrintToString(alerts);

  clock.gate.lock();
  view.ButtonFor(Button::kUpdate)->click();
  EXPECT_FALSE(view.ButtonFor(Button::kOpen)->isEnabled());
  EXPECT_FALSE(view.close()) << "the window stays open while the update runs";
  for (const int signal : {SIGTERM, SIGHUP, SIGINT}) {
    const size_t before = alerts.size();
    ASSERT_EQ(::kill(::getpid(), signal), 0);
    ASSERT_TRUE(PumpUntil([&] { return alerts.size() > before; }));
    EXPECT_TRUE(alerts.back().starts_with("A firmware update is running / ")) << alerts.back();
    EXPECT_TRUE(w.app.Window().IsRunActive());
  }
  w.user.holdRunningAlert = [&clock] { clock.gate.unlock(); };
  ASSERT_EQ(::kill(::getpid(), SIGTERM), 0);
  ASSERT_TRUE(PumpUntil([&] { return !view.isVisible(); }));
  EXPECT_EQ(alerts.back(), "Information / Update Success!");
  EXPECT_EQ(view.ProgressBar()->value(), view.ProgressBar()->maximum());
  for (const auto& entry : std::filesystem::recursive_directory_iterator(dir.path())) {
    EXPECT_FALSE(entry.path().filename().string().starts_with("TEMP")) << entry.path();
  }
}

// Guards against a rehearsal that cannot rehearse what goes wrong, or that looks like the real
// window: the window takes vortan-flash's simulation options and says inside that it rehearses.
TEST(UpdaterWindowTest, RehearsesWhatGoesWrongAndSaysSo) {
  testing::TempDir dir;
  GatedClock clock;
  ScopedProcessClock useClock(&clock);
  const std::string package = testing::WritePackage(dir, "kb25.dat", testing::OnePackPackage());
  const std::string script = dir.File("faults.txt");
  ASSERT_TRUE(testing::WriteText(script, "no_reply update_mode 0\n"));
  struct Row {
    QStringList arguments;
    QString banner;
    QString status;
    std::string alert;  // the start of the run's alert; empty: Update stays disabled
  };
  const std::vector<Row> rows = {
      {{"--simulate-denied"},
       "(one simulated keyboard, opening refused)",
       "Device connected. Press \"Update\"",
       "Error / Update Error! / The device cannot be opened: Permission denied\nYour user may not "
       "open"},
      {{"--simulate-faults", QString::fromStdString(script)},
       "(one simulated keyboard, faults from faults.txt)",
       "Device connected. Press \"Update\"",
       "Error / Update Error! / Step 1 of 4 failed while putting"},
      {{"--simulate-devices", "2"},
       "(2 simulated keyboards)",
       "More than one device! Remove some devices",
       ""},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.arguments.join(' ').toStdString());
    GuiOptions options;
    QString message;
    ASSERT_EQ(ParseGuiArguments(QStringList{"vortan-updater"} + row.arguments +
                                    QStringList{QString::fromStdString(package)},
                                &options, &message),
              ParseOutcome::kRun)
        << message.toStdString();
    SimulatedWindow w(dir, package, options);
    QtMainWindowView& view = w.view;
    ASSERT_TRUE(PumpUntil([&] { return view.FieldText(TextField::kDeviceStatus) == row.status; }));
    EXPECT_TRUE(view.RehearsalBanner()->isVisible());
    EXPECT_TRUE(view.RehearsalBanner()->text().endsWith(row.banner))
        << view.RehearsalBanner()->text().toStdString();
    EXPECT_EQ(view.windowTitle(), "VORTAN KB 25 Firmware Update");
    EXPECT_EQ(view.ButtonFor(Button::kUpdate)->isEnabled(), !row.alert.empty());
    if (row.alert.empty()) continue;
    view.ButtonFor(Button::kUpdate)->click();
    ASSERT_TRUE(PumpUntil([&] { return !w.app.Window().IsRunActive(); }));
    ASSERT_FALSE(w.user.alerts.empty());
    EXPECT_TRUE(w.user.alerts.back().starts_with(row.alert)) << w.user.alerts.back();
  }
  GuiOptions options;
  QString message;
  for (const QStringList& wrong :
       {QStringList{"--simulate-devices", "17"}, QStringList{"--simulate-arrival", "-1"},
        QStringList{"--simulate-faults", QString::fromStdString(dir.File("missing.txt"))}}) {
    EXPECT_EQ(ParseGuiArguments(QStringList{"vortan-updater"} + wrong, &options, &message),
              ParseOutcome::kError)
        << wrong.join(' ').toStdString();
  }
}

TEST(UpdaterWindowTest, ALaterLaunchHandsOverItsPackageUnlessAnUpdateRuns) {
  testing::TempDir dir;
  std::filesystem::permissions(dir.path(), std::filesystem::perms::owner_all);
  GatedClock clock;
  ScopedProcessClock useClock(&clock);
  const std::string first = testing::WritePackage(dir, "first.dat", testing::OnePackPackage());
  const std::string second = testing::WritePackage(dir, "second.dat", testing::OnePackPackage());
  SimulatedWindow w(dir, first);
  UpdaterApp& app = w.app;
  std::vector<std::string>& alerts = w.user.alerts;
  // Where a --simulate launch with this XDG_RUNTIME_DIR looks for the window.
  SingleInstance instance(QString::fromStdString(dir.File("org.vortan.updater-simulate.socket")));
  ASSERT_TRUE(app.ListenForLaterLaunches(instance));
  QtMainWindowView& view = w.view;
  view.showMinimized();

  auto launch = [&dir](const std::string& package) {
    QProcess later;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert("XDG_RUNTIME_DIR", QString::fromStdString(dir.path().string()));
    env.insert("QT_QPA_PLATFORM", "offscreen");
    later.setProcessEnvironment(env);
    later.start(VORTAN_UPDATER_PATH, {"--simulate", QString::fromStdString(package)});
    // The window answers from this thread's event loop.
    EXPECT_TRUE(PumpUntil([&later] { return later.state() == QProcess::NotRunning; }));
    return later.exitStatus() == QProcess::NormalExit ? later.exitCode() : -1;
  };
  EXPECT_EQ(launch(first), 0);
  ASSERT_TRUE(PumpUntil([&] { return view.FieldText(TextField::kPath) == first.c_str(); }));
  EXPECT_FALSE(view.isMinimized()) << "the window comes back to the front";
  EXPECT_EQ(view.FieldText(TextField::kDeviceStatus), "Device connected. Press \"Update\"");

  clock.gate.lock();  // the run waits in its first pause
  view.ButtonFor(Button::kUpdate)->click();
  ASSERT_TRUE(app.Window().IsRunActive());
  EXPECT_EQ(launch(second), 0);
  ASSERT_TRUE(PumpUntil([&] { return !alerts.empty(); }));
  EXPECT_EQ(alerts.front(),
            std::string(kTextNotOpenedDuringRun) + " / " + kTextNotOpenedDuringRunDetail + second);
  EXPECT_EQ(view.FieldText(TextField::kPath).toStdString(), first);
  clock.gate.unlock();
  ASSERT_TRUE(PumpUntil([&] { return !app.Window().IsRunActive(); }));
  EXPECT_EQ(alerts.back(), "Information / Update Success!");
}

TEST(UpdaterWindowTest, KeyboardReachesEveryControlInVisualOrder) {
  testing::TempDir dir;
  const std::string package = testing::WritePackage(dir, "kb25.dat", testing::OnePackPackage());
  GuiOptions options;
  options.package = QString::fromStdString(package);
  SimulatedWindow w(dir, package, options);
  QtMainWindowView& view = w.view;
  ASSERT_TRUE(PumpUntil([&] { return view.ButtonFor(Button::kUpdate)->isEnabled(); }));
  view.activateWindow();
  ASSERT_TRUE(QTest::qWaitForWindowActive(&view));
  QPushButton* open = view.ButtonFor(Button::kOpen);
  QPushButton* refresh = view.ButtonFor(Button::kRefresh);
  QPushButton* update = view.ButtonFor(Button::kUpdate);

  // Guards against the status and path never reached by Tab: a keyboard or screen-reader user
  // would never hear which keys open the loader.
  EXPECT_EQ(QApplication::focusWidget(), update) << "after an open with the keyboard found";
  const std::vector<QWidget*> order = {view.RehearsalBanner(),
                                       view.FieldWidget(TextField::kPath),
                                       open,
                                       view.FieldWidget(TextField::kProductModel),
                                       view.FieldWidget(TextField::kFirmwareVersion),
                                       view.FieldWidget(TextField::kDeviceStatus),
                                       refresh,
                                       update};
  for (size_t i = 0; i < order.size(); ++i) {
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
    EXPECT_EQ(QApplication::focusWidget(), order[i]) << i;
  }

  struct Row {
    const char* name;
    QPushButton* focused;
    Qt::Key key;
    Qt::KeyboardModifiers modifiers;
    QPushButton* clicked;
  };
  const std::vector<Row> rows = {
      {"Enter on Open", open, Qt::Key_Return, Qt::NoModifier, open},
      {"Space on Refresh", refresh, Qt::Key_Space, Qt::NoModifier, refresh},
      {"Enter on Refresh", refresh, Qt::Key_Return, Qt::NoModifier, refresh},
      {"Ctrl+O", refresh, Qt::Key_O, Qt::ControlModifier, open},
      {"F5", open, Qt::Key_F5, Qt::NoModifier, refresh},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    QSignalSpy openClicks(open, &QPushButton::clicked);
    QSignalSpy refreshClicks(refresh, &QPushButton::clicked);
    row.focused->setFocus();
    QTest::keyClick(row.focused, row.key, row.modifiers);
    QCoreApplication::processEvents();
    EXPECT_EQ(openClicks.count(), row.clicked == open ? 1 : 0);
    EXPECT_EQ(refreshClicks.count(), row.clicked == refresh ? 1 : 0);
  }
  EXPECT_EQ(w.user.panels, 2);
  EXPECT_TRUE(w.user.alerts.empty());
}

// Guards against labels linked to nothing, a window exposed as a filler, status and path exposed
// as labels named by their text rather than as read-only text fields named by their labels,
// alerts not marked modal, an empty status at launch, and text cut off: three long key names and
// "to open" stay whole in the wrapped status, and a long path keeps its file name, at the size the
// window opens with and at its smallest. CTest runs it again at twice the scale
// (VORTAN_TEST_SCALE=2, tests/gui/CMakeLists.txt).
TEST(UpdaterWindowTest, EveryControlIsNamedLinkedAndShownWhole) {
  testing::TempDir dir;
  pack::PackageContents contents = testing::OnePackPackage();
  contents.keys = {"LeftCtrl", "RightSft", "ScrollLk"};  // each as long as a package allows
  const std::string folder = dir.File(std::string(120, 'f'));
  std::filesystem::create_directory(folder);
  const std::string package =
      testing::WritePackage(dir, std::string(120, 'f') + "/kb25.dat", contents);
  GuiOptions options;
  options.simulation.simulatedDevices = 0;  // the status then names the keys
  SimulatedWindow w(dir, package, options);
  QtMainWindowView& view = w.view;
  EXPECT_EQ(view.FieldText(TextField::kDeviceStatus), "Open an update file (.dat) to begin");
  EXPECT_EQ(QAccessible::queryAccessibleInterface(&view)->role(), QAccessible::Window);
  const int scale = std::max(qEnvironmentVariableIntValue("VORTAN_TEST_SCALE"), 1);
  EXPECT_EQ(view.devicePixelRatio(), scale) << "the scale asked for is not applied";

  const std::map<QString, QWidget*> buddies = {
      {"File:", view.FieldWidget(TextField::kPath)},
      {"Product model:", view.FieldWidget(TextField::kProductModel)},
      {"Firmware version:", view.FieldWidget(TextField::kFirmwareVersion)},
      {"Status:", view.FieldWidget(TextField::kDeviceStatus)},
      {"Progress:", view.ProgressBar()}};
  for (QLabel* label : view.findChildren<QLabel*>()) {
    if (!buddies.contains(label->text())) continue;
    EXPECT_EQ(label->buddy(), buddies.at(label->text())) << label->text().toStdString();
  }
  const std::vector<std::pair<QWidget*, QString>> names = {
      {view.FieldWidget(TextField::kPath), "File:"},
      {view.FieldWidget(TextField::kProductModel), "Product model"},
      {view.FieldWidget(TextField::kFirmwareVersion), "Firmware version"},
      {view.FieldWidget(TextField::kDeviceStatus), "Status:"},
      {view.ProgressBar(), "Progress"},
      {view.RunLine(), "Update progress"},
      {view.RehearsalBanner(), "Rehearsal"},
      {view.ButtonFor(Button::kOpen), "Open…"}};
  for (const auto& [widget, name] : names) {
    QAccessibleInterface* accessible = QAccessible::queryAccessibleInterface(widget);
    EXPECT_EQ(accessible->text(QAccessible::Name), name);
    if (name.endsWith(':')) {  // the text fields named by their labels
      EXPECT_EQ(accessible->role(), QAccessible::EditableText) << name.toStdString();
      EXPECT_TRUE(accessible->state().readOnly) << name.toStdString();
      EXPECT_TRUE(accessible->state().focusable) << name.toStdString();
    }
  }

  view.ButtonFor(Button::kOpen)->click();
  ASSERT_TRUE(PumpUntil([&] { return view.FieldText(TextField::kPath) == package.c_str(); }));
  auto* status = static_cast<QLabel*>(view.FieldWidget(TextField::kDeviceStatus));
  EXPECT_EQ(status->text(), "No Device (Press \"LeftCtrl\" + \"RightSft\" + \"ScrollLk\" to open)");
  auto* path = static_cast<PathField*>(view.FieldWidget(TextField::kPath));
  for (const QSize size : {view.size(), view.minimumSizeHint()}) {
    SCOPED_TRACE(size.width());
    view.resize(size);
    EXPECT_TRUE(PumpUntil([&] {
      return status->height() >= status->heightForWidth(status->width());
    })) << status->height()
        << " < " << status->heightForWidth(status->width());
    EXPECT_TRUE(view.rect().contains(QRect(status->mapTo(&view, QPoint()), status->size())));
    EXPECT_LE(view.width(), view.screen()->availableGeometry().width());
    EXPECT_TRUE(path->ShownText().endsWith("/kb25.dat")) << path->ShownText().toStdString();
    EXPECT_TRUE(path->ShownText().contains(QChar(0x2026))) << path->ShownText().toStdString();
  }
  EXPECT_EQ(QAccessible::queryAccessibleInterface(path)->text(QAccessible::Value), package.c_str());
  EXPECT_EQ(QAccessible::queryAccessibleInterface(status)->text(QAccessible::Value),
            status->text());

  ASSERT_TRUE(w.app.Window().OpenPath(dir.File("missing.dat")) == false);
  EXPECT_EQ(w.user.modalAlerts, 1);
}

// The desktop's notification service, on a private bus: records each notification's summary
// and body.
class NotificationServer final : public QDBusVirtualObject {
 public:
  QString introspect(const QString&) const override { return {}; }
  bool handleMessage(const QDBusMessage& message, const QDBusConnection& connection) override {
    if (message.member() != "Notify") return false;
    seen << message.arguments().value(3).toString() + " / " +
                message.arguments().value(4).toString();
    connection.send(message.createReply(QVariant::fromValue(1u)));
    return true;
  }
  QStringList seen;
};

// Guards against an update that ends unseen while the user works in another window: the
// desktop is told, and only then.
TEST(UpdaterWindowTest, AnUpdateEndingWhileTheWindowIsInactiveIsToldToTheDesktop) {
  if (QStandardPaths::findExecutable("dbus-daemon").isEmpty()) GTEST_SKIP() << "no dbus-daemon";
  QProcess daemon;
  daemon.start("dbus-daemon", {"--session", "--nofork", "--print-address=1"});
  ASSERT_TRUE(daemon.waitForReadyRead(10000)) << "dbus-daemon did not start";
  const QString address = QString::fromUtf8(daemon.readLine()).trimmed();
  QDBusConnection server = QDBusConnection::connectToBus(address, "notification-server");
  NotificationServer notifications;
  ASSERT_TRUE(server.registerVirtualObject("/org/freedesktop/Notifications", &notifications));
  ASSERT_TRUE(server.registerService("org.freedesktop.Notifications"));

  testing::TempDir dir;
  VirtualClock clock;
  ScopedProcessClock useClock(&clock);
  const std::string package = testing::WritePackage(dir, "kb25.dat", testing::OnePackPackage());
  GuiOptions options;
  options.package = QString::fromStdString(package);
  SimulatedWindow w(dir, package, options);
  w.view.UseNotifier(DesktopNotifier(QDBusConnection::connectToBus(address, "notifier")));
  for (const bool active : {false, true}) {
    SCOPED_TRACE(active);
    ASSERT_TRUE(PumpUntil([&] { return w.view.ButtonFor(Button::kUpdate)->isEnabled(); }));
    QWidget elsewhere;  // the window the user works in meanwhile
    QWidget& front = active ? static_cast<QWidget&>(w.view) : elsewhere;
    front.show();
    front.activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(&front));
    w.view.ButtonFor(Button::kUpdate)->click();
    ASSERT_TRUE(PumpUntil([&] { return !w.app.Window().IsRunActive(); }));
    QTest::qWait(200);  // time for a notification to cross the bus
    EXPECT_EQ(notifications.seen, QStringList{"VORTAN KB 25 Firmware Update / Update Success!"});
  }
  QDBusConnection::disconnectFromBus("notifier");
  QDBusConnection::disconnectFromBus("notification-server");
  daemon.kill();
  daemon.waitForFinished(5000);
}

}  // namespace
}  // namespace vortan
