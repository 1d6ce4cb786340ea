// SPDX-License-Identifier: Apache-2.0
#pragma once
// Read-only text fields that never hide what matters. Both take focus by Tab (so keyboard and
// screen-reader users reach them) and are exposed as read-only text fields named by the name
// given them, else by the label whose buddy they are; their text is the whole text, each change
// of which is announced as a text change (AT-SPI: object:text-changed).
#include <QLabel>
#include <QLineEdit>
#include <QString>

class QFontMetrics;

namespace vortan {

// Text wrapped onto as many lines as it needs, without a frame of its own. Its text control (it
// is selectable) raises the text events; accessible_roles.h gives it the text field's role and
// the text interface that let them through (a plain label's text is no more than its name, and
// is not read at all once the label is given a name of its own).
class WrappedField final : public QLabel {
 public:
  explicit WrappedField(QWidget* parent);
};

// A path on one line. Without the focus it shows the path elided in the middle, keeping the file
// name; with it, it is a plain read-only line edit, so the whole path can be read and copied.
class PathField final : public QLineEdit {
 public:
  explicit PathField(QWidget* parent);

  // Sets the whole path, shown whole in the tool tip too.
  void SetPath(const QString& path);
  // What the field shows without the focus: the path fitted into its width.
  QString ShownText() const;

  // `path` fitted into `width` pixels: whole when it fits, else its folder elided in the middle
  // before the whole file name, else the file name elided in the middle (keeping ".dat").
  static QString ElidePath(const QString& path, const QFontMetrics& metrics, int width);

 protected:
  void paintEvent(QPaintEvent* event) override;

 private:
  // Where QLineEdit draws its line of text.
  QRect TextRect() const;
};

}  // namespace vortan
