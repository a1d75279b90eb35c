// The two windows have fixed outer sizes, frame included, and open centred on the primary
// screen. The frame's size is known only once the window manager has framed the window, so
// the client size is set again whenever the frame turns out different.
#pragma once

#include <QObject>
#include <QSize>
#include <QWidget>

namespace korvanel {

// Title bar with the system menu, minimise and close; no maximise; fixed border.
inline constexpr Qt::WindowFlags kFixedWindowFlags =
    Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
    Qt::WindowMinimizeButtonHint | Qt::WindowCloseButtonHint;

class FixedOuterSize : public QObject {
  Q_OBJECT

 public:
  // Sizes and centres window now (no frame known yet) and again once it is framed.
  FixedOuterSize(QWidget* window, QSize outerSize);

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  void Fit();

  QWidget* m_window;
  QSize m_outerSize;
  QSize m_frameExtra{-1, -1};
};

}  // namespace korvanel
