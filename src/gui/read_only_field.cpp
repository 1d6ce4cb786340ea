// SPDX-License-Identifier: Apache-2.0
#include "gui/read_only_field.h"

#include <QFileInfo>
#include <QFontMetrics>
#include <QPainter>
#include <QStyle>
#include <QStyleOptionFrame>
#include <algorithm>

namespace vortan {

WrappedField::WrappedField(QWidget* parent) : QLabel(parent) {
  setTextFormat(Qt::PlainText);
  setTextInteractionFlags(Qt::TextSelectableByMouse | Qt::TextSelectableByKeyboard);
  setFocusPolicy(Qt::StrongFocus);
  setWordWrap(true);
  setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Minimum);
}

PathField::PathField(QWidget* parent) : QLineEdit(parent) {
  setReadOnly(true);
  setFocusPolicy(Qt::StrongFocus);
}

void PathField::SetPath(const QString& path) {
  setText(path);  // leaves the caret at the end: focused, the file name is in view
  setToolTip(path);
}

QString PathField::ElidePath(const QString& path, const QFontMetrics& metrics, int width) {
  if (metrics.horizontalAdvance(path) <= width) return path;
  const QString name = QFileInfo(path).fileName();
  const int nameWidth = metrics.horizontalAdvance(name);
  if (name.isEmpty() || nameWidth >= width) return metrics.elidedText(path, Qt::ElideMiddle, width);
  const QString folder = path.left(path.size() - name.size());
  return metrics.elidedText(folder, Qt::ElideMiddle, width - nameWidth) + name;
}

QRect PathField::TextRect() const {
  QStyleOptionFrame panel;
  initStyleOption(&panel);
  const QRect contents = style()->subElementRect(QStyle::SE_LineEditContents, &panel, this);
  // QLineEdit keeps 2 pixels of its own on either side of the text.
  return contents.marginsRemoved(textMargins()).adjusted(2, 0, -2, 0);
}

QString PathField::ShownText() const {
  return ElidePath(text(), fontMetrics(), std::max(TextRect().width(), 1));
}

void PathField::paintEvent(QPaintEvent* event) {
  const QString shown = ShownText();
  if (hasFocus() || shown == text()) {
    QLineEdit::paintEvent(event);
    return;
  }
  QPainter painter(this);
  QStyleOptionFrame panel;
  initStyleOption(&panel);
  style()->drawPrimitive(QStyle::PE_PanelLineEdit, &panel, &painter, this);
  style()->drawItemText(&painter, TextRect(), Qt::AlignLeft | Qt::AlignVCenter, palette(),
                        isEnabled(), shown, QPalette::Text);
}

}  // namespace vortan
