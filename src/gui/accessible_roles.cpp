// SPDX-License-Identifier: Apache-2.0
#include "gui/accessible_roles.h"

#include <QAccessible>
#include <QAccessibleWidget>
#include <QMessageBox>

#include "gui/qt_main_window_view.h"
#include "gui/read_only_field.h"

namespace vortan {
namespace {

// A message box as an alert, marked modal when it is.
class AlertAccessible final : public QAccessibleWidget {
 public:
  explicit AlertAccessible(QMessageBox* box) : QAccessibleWidget(box, QAccessible::AlertMessage) {}

  QAccessible::State state() const override {
    QAccessible::State state = QAccessibleWidget::state();
    state.modal = widget()->isModal() || widget()->windowModality() != Qt::NonModal;
    return state;
  }
};

// A wrapped field as a read-only text field: named by the name given to it, else by its label
// (Qt's default for a widget with a buddy), never by its text as a label is. The text interface is
// what lets the text events of the label's text control through to AT-SPI.
class WrappedFieldAccessible final : public QAccessibleWidget, public QAccessibleTextInterface {
 public:
  explicit WrappedFieldAccessible(WrappedField* field)
      : QAccessibleWidget(field, QAccessible::EditableText) {}

  void* interface_cast(QAccessible::InterfaceType type) override {
    if (type == QAccessible::TextInterface) return static_cast<QAccessibleTextInterface*>(this);
    return QAccessibleWidget::interface_cast(type);
  }
  QAccessible::State state() const override {
    QAccessible::State state = QAccessibleWidget::state();
    state.readOnly = true;
    state.multiLine = true;
    return state;
  }
  QString text(QAccessible::Text which) const override {
    if (which == QAccessible::Value) return Whole();
    return QAccessibleWidget::text(which);
  }

  // QAccessibleTextInterface: the whole text, no selection, the caret at its start.
  QString text(int startOffset, int endOffset) const override {
    return Whole().mid(startOffset, endOffset < 0 ? -1 : endOffset - startOffset);
  }
  int characterCount() const override { return static_cast<int>(Whole().size()); }
  void selection(int, int* startOffset, int* endOffset) const override {
    *startOffset = *endOffset = 0;
  }
  int selectionCount() const override { return 0; }
  void addSelection(int, int) override {}
  void removeSelection(int) override {}
  void setSelection(int, int, int) override {}
  int cursorPosition() const override { return 0; }
  void setCursorPosition(int) override {}
  QRect characterRect(int) const override { return {}; }
  int offsetAtPoint(const QPoint&) const override { return -1; }
  void scrollToSubstring(int, int) override {}
  QString attributes(int offset, int* startOffset, int* endOffset) const override {
    *startOffset = *endOffset = offset;
    return {};
  }

 private:
  QString Whole() const { return static_cast<QLabel*>(widget())->text(); }
};

QAccessibleInterface* MakeAccessible(const QString& /*className*/, QObject* object) {
  if (auto* view = dynamic_cast<QtMainWindowView*>(object)) {
    return new QAccessibleWidget(view, QAccessible::Window);
  }
  if (auto* box = qobject_cast<QMessageBox*>(object)) return new AlertAccessible(box);
  if (auto* field = dynamic_cast<WrappedField*>(object)) return new WrappedFieldAccessible(field);
  return nullptr;
}

}  // namespace

void InstallAccessibleRoles() {
  static bool installed = false;
  if (installed) return;
  installed = true;
  QAccessible::installFactory(MakeAccessible);
}

}  // namespace vortan
