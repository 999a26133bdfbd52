#include "ui/qt/caption_label.h"

#include <QMouseEvent>

namespace quorrel::ui {

CaptionLabel::CaptionLabel(const QString& caption, QWidget* parent) : QLabel(caption, parent) {
  setTextFormat(Qt::PlainText);
  setMargin(0);
  adjustSize();
}

void CaptionLabel::setCaption(const QString& caption) {
  if (caption == text()) return;
  setText(caption);
  adjustSize();
  emit captionChanged(caption);
}

void CaptionLabel::mousePressEvent(QMouseEvent* event) {
  m_pressed = event->button() == Qt::LeftButton;
  QLabel::mousePressEvent(event);
}

void CaptionLabel::mouseReleaseEvent(QMouseEvent* event) {
  const bool click =
      m_pressed && event->button() == Qt::LeftButton && rect().contains(event->position().toPoint());
  m_pressed = false;
  QLabel::mouseReleaseEvent(event);
  if (click) emit clicked();
}

void CaptionLabel::changeEvent(QEvent* event) {
  QLabel::changeEvent(event);
  if (event->type() == QEvent::FontChange) adjustSize();
}

}  // namespace quorrel::ui
