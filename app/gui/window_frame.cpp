#include "app/gui/window_frame.h"

#include <QEvent>
#include <QGuiApplication>
#include <QScreen>

namespace korvanel {

FixedOuterSize::FixedOuterSize(QWidget* window, QSize outerSize)
    : QObject(window), m_window(window), m_outerSize(outerSize) {
  Fit();
  window->installEventFilter(this);
}

bool FixedOuterSize::eventFilter(QObject* watched, QEvent* event) {
  if (watched == m_window) {
    switch (event->type()) {
      case QEvent::Show:
      case QEvent::Move:
      case QEvent::Resize:
        Fit();
        break;
      default:
        break;
    }
  }
  return QObject::eventFilter(watched, event);
}

void FixedOuterSize::Fit() {
  const QSize extra = m_window->frameGeometry().size() - m_window->size();
  if (extra == m_frameExtra) return;
  m_frameExtra = extra;
  m_window->setFixedSize(m_outerSize - extra);
  // Centred as a whole, frame included, on the primary screen's work area.
  if (const QScreen* screen = QGuiApplication::primaryScreen()) {
    const QRect area = screen->availableGeometry();
    m_window->move(area.x() + (area.width() - m_outerSize.width()) / 2,
                   area.y() + (area.height() - m_outerSize.height()) / 2);
  }
}

}  // namespace korvanel
