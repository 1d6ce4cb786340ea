// SPDX-License-Identifier: Apache-2.0
#include "gui/qt_main_window_view.h"

#include <QApplication>
#include <QCloseEvent>
#include <QDir>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QFileDialog>
#include <QFileInfo>
#include <QFormLayout>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QMimeData>
#include <QProgressBar>
#include <QPushButton>
#include <QShortcut>
#include <QSocketNotifier>
#include <QStringList>
#include <QTimer>
#include <QUrl>
#include <QVBoxLayout>
#include <QWindow>
#include <algorithm>
#include <cmath>
#include <initializer_list>
#include <optional>
#include <utility>

#include "app/main_window.h"
#include "app/update_run.h"
#include "app/user_texts.h"
#include "gui/accessible_roles.h"
#include "gui/modal.h"
#include "gui/read_only_field.h"

namespace vortan {
namespace {

QString ToQ(const std::string& text) {
  return QString::fromStdString(text);
}

QLineEdit* MakeReadOnlyField(QWidget* parent, const QString& placeholder) {
  auto* field = new QLineEdit(parent);
  field->setReadOnly(true);
  field->setFocusPolicy(Qt::StrongFocus);
  field->setPlaceholderText(placeholder);
  return field;
}

constexpr int kShownTimeoutMs = 2000;

int ToBarUnits(double value) {
  return static_cast<int>(std::lround(value));
}

// The one local file of a drag, if that is what it carries.
std::optional<QString> DroppedFile(const QMimeData* mime) {
  if (!mime || !mime->hasUrls()) return std::nullopt;
  const QList<QUrl> urls = mime->urls();
  if (urls.size() != 1 || !urls.front().isLocalFile()) return std::nullopt;
  return urls.front().toLocalFile();
}

bool IsPackageName(const QString& path) {
  return QFileInfo(path).suffix().compare(QStringLiteral("dat"), Qt::CaseInsensitive) == 0;
}

}  // namespace

QtMainWindowView::QtMainWindowView(QWidget* parent) : QWidget(parent) {
  InstallAccessibleRoles();
  path_ = new PathField(this);
  path_->setPlaceholderText(tr("No update file opened"));
  model_ = MakeReadOnlyField(this, QString());
  model_->setAccessibleName(tr("Product model"));
  version_ = MakeReadOnlyField(this, QString());
  version_->setAccessibleName(tr("Firmware version"));
  status_ = new WrappedField(this);
  status_->setFrameShape(QFrame::StyledPanel);  // framed as the other fields
  status_->setFrameShadow(QFrame::Sunken);
  status_->setMargin(3);
  // Before any package the design's own hint; the status texts are set by the refreshes alone.
  status_->setText(tr(kTextOpenFileFirst));
  progress_ = new QProgressBar(this);
  progress_->setAccessibleName(tr("Progress"));
  progress_->setRange(0, 1);
  progress_->setValue(0);
  run_ = new WrappedField(this);
  run_->setAccessibleName(tr("Update progress"));
  run_->hide();
  open_ = new QPushButton(tr("&Open…"), this);
  refresh_ = new QPushButton(tr("&Refresh"), this);
  update_ = new QPushButton(tr("&Update"), this);
  // Outside a dialog only an auto-default button answers Enter; Space works for any button.
  for (QPushButton* button : {open_, refresh_, update_}) button->setAutoDefault(true);
  update_->setDefault(true);
  open_->setToolTip(tr("Choose an update file (.dat) (Ctrl+O)"));
  refresh_->setToolTip(tr("Look for the keyboard again (F5)"));
  update_->setToolTip(tr("Write the firmware of the update file to the keyboard"));

  // One label width for both groups, so their fields line up.
  const QStringList labels = {tr("File:"), tr("Product model:"), tr("Firmware version:"),
                              tr("Status:"), tr("Progress:")};
  int labelWidth = 0;
  for (const QString& label : labels) {
    labelWidth = std::max(labelWidth, fontMetrics().horizontalAdvance(label));
  }
  // `field` is the label's buddy (what it names); `row` what the form shows, the field alone or
  // the field with its button.
  auto addRow = [this, labelWidth](QFormLayout* form, const QString& text, QWidget* field,
                                   QLayout* row = nullptr) {
    auto* label = new QLabel(text, this);
    label->setMinimumWidth(labelWidth);
    label->setBuddy(field);
    if (row) {
      form->addRow(label, row);
    } else {
      form->addRow(label, field);
    }
  };

  auto* package = new QGroupBox(tr("Update file"), this);
  auto* pathRow = new QHBoxLayout;
  pathRow->addWidget(path_, 1);
  pathRow->addWidget(open_);
  auto* packageForm = new QFormLayout;
  addRow(packageForm, labels[0], path_, pathRow);
  addRow(packageForm, labels[1], model_);
  addRow(packageForm, labels[2], version_);
  package->setLayout(packageForm);

  auto* device = new QGroupBox(tr("Keyboard"), this);
  auto* statusRow = new QHBoxLayout;
  statusRow->addWidget(status_, 1);
  statusRow->addWidget(refresh_);
  auto* deviceForm = new QFormLayout;
  addRow(deviceForm, labels[3], status_, statusRow);
  addRow(deviceForm, labels[4], progress_);
  deviceForm->addRow(run_);
  device->setLayout(deviceForm);

  auto* buttons = new QHBoxLayout;
  buttons->addStretch(1);
  buttons->addWidget(update_);

  rehearsal_ = new WrappedField(this);
  rehearsal_->setFrameShape(QFrame::Box);
  rehearsal_->setMargin(6);
  rehearsal_->setAutoFillBackground(true);
  QPalette notice = rehearsal_->palette();
  notice.setColor(QPalette::Window, QColor(0xFF, 0xE0, 0x82));
  notice.setColor(QPalette::WindowText, Qt::black);
  rehearsal_->setPalette(notice);
  rehearsal_->setAccessibleName(tr("Rehearsal"));
  rehearsal_->hide();

  auto* layout = new QVBoxLayout(this);
  layout->addWidget(rehearsal_);
  layout->addWidget(package);
  layout->addWidget(device);
  layout->addStretch(1);
  layout->addLayout(buttons);

  setAcceptDrops(true);
  setMinimumWidth(560);
  auto* quit = new QShortcut(QKeySequence::Quit, this);
  connect(quit, &QShortcut::activated, this, &QWidget::close);
  // click() does nothing on a disabled button, so the shortcuts follow the button states.
  auto* openKey = new QShortcut(QKeySequence::Open, this);
  connect(openKey, &QShortcut::activated, open_, &QPushButton::click);
  auto* refreshKey = new QShortcut(QKeySequence(Qt::Key_F5), this);
  connect(refreshKey, &QShortcut::activated, refresh_, &QPushButton::click);
  // The visual order, top to bottom, left to right.
  QWidget* previous = rehearsal_;
  for (QWidget* next : std::initializer_list<QWidget*>{path_, open_, model_, version_, status_,
                                                       refresh_, run_, update_}) {
    setTabOrder(previous, next);
    previous = next;
  }
}

QtMainWindowView::~QtMainWindowView() {
  JoinUpdateThread();
}

void QtMainWindowView::Bind(MainWindow* window) {
  window_ = window;
  connect(open_, &QPushButton::clicked, this, [this] { window_->OpenDat(); });
  connect(refresh_, &QPushButton::clicked, this, [this] { window_->RefreshDevice(); });
  connect(update_, &QPushButton::clicked, this, [this] { window_->UpdateDevice(); });
}

void QtMainWindowView::JoinUpdateThread() {
  if (updateThread_.joinable()) updateThread_.join();
}

QPushButton* QtMainWindowView::ButtonFor(Button button) const {
  switch (button) {
    case Button::kUpdate:
      return update_;
    case Button::kRefresh:
      return refresh_;
    case Button::kOpen:
      return open_;
  }
  return nullptr;
}

QString QtMainWindowView::FieldText(TextField field) const {
  switch (field) {
    case TextField::kPath:
      return path_->text();
    case TextField::kDeviceStatus:
      return status_->text();
    case TextField::kProductModel:
      return model_->text();
    case TextField::kFirmwareVersion:
      return version_->text();
  }
  return {};
}

QWidget* QtMainWindowView::FieldWidget(TextField field) const {
  switch (field) {
    case TextField::kPath:
      return path_;
    case TextField::kDeviceStatus:
      return status_;
    case TextField::kProductModel:
      return model_;
    case TextField::kFirmwareVersion:
      return version_;
  }
  return nullptr;
}

void QtMainWindowView::SetTitle(const std::string& title) {
  setWindowTitle(ToQ(title));
}

void QtMainWindowView::SetText(TextField field, const std::string& text) {
  if (field == TextField::kPath) {
    path_->SetPath(ToQ(text));
    return;
  }
  if (field == TextField::kDeviceStatus) {
    status_->setText(ToQ(text));
    return;
  }
  auto* edit = static_cast<QLineEdit*>(FieldWidget(field));
  edit->setText(ToQ(text));
  edit->setCursorPosition(0);
  edit->setToolTip(edit->text());
}

void QtMainWindowView::SetButtonEnabled(Button button, bool enabled) {
  ButtonFor(button)->setEnabled(enabled);
}

void QtMainWindowView::SetRunText(const std::string& text) {
  run_->setText(ToQ(text));
  run_->setVisible(!text.empty());
}

void QtMainWindowView::MoveFocus(Focus target) {
  switch (target) {
    case Focus::kUpdate:
      update_->setFocus(Qt::OtherFocusReason);
      break;
    case Focus::kDeviceStatus:
      status_->setFocus(Qt::OtherFocusReason);
      break;
    case Focus::kRunLine:
      run_->setFocus(Qt::OtherFocusReason);
      break;
  }
}

void QtMainWindowView::ShowRehearsal(const QString& text) {
  rehearsal_->setText(text);
  rehearsal_->show();
}

void QtMainWindowView::SetProgressMinimum(double value) {
  progress_->setMinimum(ToBarUnits(value));
}

void QtMainWindowView::SetProgressMaximum(double value) {
  progress_->setMaximum(ToBarUnits(value));
}

void QtMainWindowView::SetProgressValue(double value) {
  progress_->setValue(ToBarUnits(value));
}

double QtMainWindowView::ProgressMaximum() const {
  return progress_->maximum();
}

void QtMainWindowView::ShowAlert(const std::string& message, const std::string& informativeText,
                                 AlertStyle style, const std::string& details) {
  QMessageBox box(this);
  box.setIcon(style == AlertStyle::kWarning ? QMessageBox::Warning : QMessageBox::Information);
  box.setWindowTitle(windowTitle());
  box.setText(ToQ(message));
  box.setInformativeText(ToQ(informativeText));
  if (!details.empty()) box.setDetailedText(ToQ(details));
  box.setStandardButtons(QMessageBox::Ok);
  ExecModal(box);
}

OpenPanelResult QtMainWindowView::RunOpenPanel(const OpenPanelOptions& options) {
  QFileDialog dialog(this, ToQ(options.title));
  dialog.setAcceptMode(QFileDialog::AcceptOpen);
  dialog.setFileMode(options.allowsMultipleSelection ? QFileDialog::ExistingFiles
                                                     : QFileDialog::ExistingFile);
  QStringList patterns;
  for (const std::string& type : options.allowedFileTypes) patterns << "*." + ToQ(type);
  dialog.setNameFilter(ToQ(options.fileTypeName) + " (" + patterns.join(' ') + ")");
  // Qt's own panel, which has room for the panel's message as a line of its own.
  dialog.setOption(QFileDialog::DontUseNativeDialog);
  if (auto* grid = qobject_cast<QGridLayout*>(dialog.layout())) {
    auto* message = new QLabel(ToQ(options.message), &dialog);
    message->setObjectName(QStringLiteral("panelMessage"));
    grid->addWidget(message, grid->rowCount(), 0, 1, grid->columnCount());
  }
  const QFileInfo current(path_->text());
  if (!path_->text().isEmpty() && current.dir().exists()) {
    dialog.setDirectory(current.dir());
  } else {
    dialog.setDirectory(QDir::home());
  }
  if (ExecModal(dialog) != QDialog::Accepted) return {};
  const QStringList files = dialog.selectedFiles();
  if (files.isEmpty()) return {};
  return {true, files.front().toStdString()};
}

void QtMainWindowView::PostProgress(int32_t value) {
  QMetaObject::invokeMethod(
      this, [this, value] { DeliverProgress(value); }, Qt::QueuedConnection);
}

void QtMainWindowView::DeliverProgress(int32_t value) {
  const bool end = value == kProgressSuccess || value == kProgressFailure;
  if (end) {
    inhibitor_.Release();
    for (const QPointer<QDialog>& dialog : std::exchange(closeWhenRunEnds_, {})) {
      if (dialog) dialog->reject();
    }
    // A user who looked elsewhere during the run learns its end without coming back first.
    if (!isActiveWindow()) {
      notifier_.Notify(windowTitle(), ToQ(value == kProgressSuccess ? kTextSuccess : kTextFailure));
    }
  }
  if (window_) window_->RefreshProgress(value);
  if (end && runEnded_) runEnded_();
}

void QtMainWindowView::CloseWhenRunEnds(QDialog* dialog) {
  closeWhenRunEnds_.emplace_back(dialog);
}

void QtMainWindowView::StartUpdateThread(std::function<void()> body) {
  // The previous run posted its last value before ending; this join does not wait long.
  JoinUpdateThread();
  inhibitor_.Acquire();  // without a login manager the update goes on unguarded
  updateThread_ = std::thread(std::move(body));
}

void QtMainWindowView::StartDeviceWatch(int fd, std::chrono::milliseconds interval,
                                        std::function<void()> tick) {
  delete deviceWatch_;
  if (fd >= 0) {
    // No wake-up while nothing changes: the event loop sleeps until the descriptor is readable.
    auto* notifier = new QSocketNotifier(fd, QSocketNotifier::Read, this);
    connect(notifier, &QSocketNotifier::activated, this, std::move(tick));
    deviceWatch_ = notifier;
    return;
  }
  auto* timer = new QTimer(this);
  timer->setInterval(interval);
  connect(timer, &QTimer::timeout, this, std::move(tick));
  timer->start();
  deviceWatch_ = timer;
}

void QtMainWindowView::RunWhenShown(std::function<void()> action) {
  pendingUntilShown_.push_back(std::move(action));
  RunPendingIfShown(false);
  // A window started minimized may never be exposed; its package is opened all the same.
  QTimer::singleShot(kShownTimeoutMs, this, [this] { RunPendingIfShown(true); });
}

void QtMainWindowView::RunPendingIfShown(bool evenIfHidden) {
  QWindow* handle = windowHandle();
  if (!evenIfHidden && (!handle || !handle->isExposed())) {
    if (handle) handle->installEventFilter(this);
    return;
  }
  // Queued, so the window paints its first frame before any modal alert.
  for (std::function<void()>& action : pendingUntilShown_) {
    QMetaObject::invokeMethod(this, std::move(action), Qt::QueuedConnection);
  }
  pendingUntilShown_.clear();
}

bool QtMainWindowView::eventFilter(QObject* watched, QEvent* event) {
  if (event->type() == QEvent::Expose && watched == windowHandle() && !pendingUntilShown_.empty()) {
    // The expose event is handled first; isExposed is up to date once the loop comes back.
    QMetaObject::invokeMethod(
        this, [this] { RunPendingIfShown(false); }, Qt::QueuedConnection);
  }
  return QWidget::eventFilter(watched, event);
}

void QtMainWindowView::RunWhenFree(std::function<void()> action) {
  QTimer::singleShot(0, this, [this, action = std::move(action)]() mutable {
    if (QApplication::activeModalWidget()) {
      QTimer::singleShot(200, this, [this, action = std::move(action)]() mutable {
        RunWhenFree(std::move(action));
      });
      return;
    }
    action();
  });
}

void QtMainWindowView::closeEvent(QCloseEvent* event) {
  closing_ = true;
  const bool refused = mayClose_ && !mayClose_();
  closing_ = false;
  if (refused) {
    event->ignore();
    return;
  }
  event->accept();
}

void QtMainWindowView::dragEnterEvent(QDragEnterEvent* event) {
  // Any one file is taken, so that a file of another kind is refused in words, not ignored.
  if (window_ && !window_->IsRunActive() && DroppedFile(event->mimeData())) {
    event->acceptProposedAction();
  }
}

void QtMainWindowView::dropEvent(QDropEvent* event) {
  const std::optional<QString> path = DroppedFile(event->mimeData());
  if (!window_ || !path) return;
  event->acceptProposedAction();
  // Opened after the drop has finished: a refusal alert must not hold the drag source.
  const std::string file = path->toStdString();
  if (IsPackageName(*path)) {
    RunWhenFree([this, file] { window_->OpenPath(file); });
  } else {
    RunWhenFree([this, file] { window_->RefuseFile(file); });
  }
}

}  // namespace vortan
