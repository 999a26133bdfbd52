#pragma once
// A label that sizes itself to its caption, as the window's labels do: the
// left and top edges stay put, width and height follow the text (also when
// the font changes). It reports a click, a press and release of the left
// button over it, so that a label can act as a link.

#include <QLabel>

namespace quorrel::ui {

class CaptionLabel : public QLabel {
  Q_OBJECT

 public:
  explicit CaptionLabel(const QString& caption, QWidget* parent = nullptr);

  void setCaption(const QString& caption);

 signals:
  void clicked();
  void captionChanged(const QString& caption);

 protected:
  void mousePressEvent(QMouseEvent* event) override;
  void mouseReleaseEvent(QMouseEvent* event) override;
  void changeEvent(QEvent* event) override;

 private:
  bool m_pressed = false;
};

}  // namespace quorrel::ui
