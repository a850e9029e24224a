// The queue between Qt's event handling and the recorder's handler (see QtUserInterface.h).
#pragma once

#include <deque>

#include "platform/Platform.h"

namespace kestrova::platform::qt {

class TInputQueue {
 public:
  // Dropped while a modal window of ours is open, except the end of the session and a stop asked
  // by another program: those must reach the recorder once the window closes, or the program
  // would not notice them at all (and the asking program would wait in vain).
  void Push(TUIEvent event) {
    if (FModalDepth == 0 || event.Kind == TUIEventKind::Destroy ||
        event.Kind == TUIEventKind::StopRequest) {
      FPending.push_back(std::move(event));
    }
  }
  bool Empty() const { return FPending.empty(); }
  TUIEvent Take() {
    TUIEvent e = std::move(FPending.front());
    FPending.pop_front();
    return e;
  }
  int ModalDepth() const { return FModalDepth; }

  // Held while a modal window runs its own loop.
  class TModalScope {
   public:
    explicit TModalScope(TInputQueue& q) : Q(q) { ++Q.FModalDepth; }
    ~TModalScope() { --Q.FModalDepth; }
    TModalScope(const TModalScope&) = delete;
    TModalScope& operator=(const TModalScope&) = delete;

   private:
    TInputQueue& Q;
  };

 private:
  std::deque<TUIEvent> FPending;
  int FModalDepth = 0;
};

}  // namespace kestrova::platform::qt
