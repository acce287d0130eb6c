// The alert sound.
#include "app/Alert.h"

#include <QApplication>

#include <utility>

void Alert::systemBell() {
    QApplication::beep();
}

Alert::Alert(std::function<void()> bell, std::chrono::milliseconds burstGap, runtime::Clock& clock,
             QObject* parent)
    : QObject(parent)
    , m_bursts(
          burstGap,
          [bell = std::move(bell)](int others) {
              if (others == 0)
                  bell();
          },
          clock) {}

void Alert::sound() {
    m_bursts.post();
}
