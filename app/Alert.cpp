// The alert sound.
#include "app/Alert.h"

#include "app/Coalescer.h"

#include <QApplication>

#include <utility>

void Alert::systemBell() {
    QApplication::beep();
}

Alert::Alert(std::function<void()> bell, std::chrono::milliseconds burstGap, QObject* parent)
    : QObject(parent)
    , m_bursts(new Coalescer(
          burstGap,
          [bell = std::move(bell)](int others) {
              if (others == 0)
                  bell();
          },
          this)) {}

void Alert::sound() {
    m_bursts->post();
}
