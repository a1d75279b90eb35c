#include "web/message_pump.h"

#include <atomic>

namespace korvanel {

namespace {

// One pump for the whole program, read by every WebRequest on whatever thread it runs.
std::atomic<MessagePump> g_messagePump{nullptr};

}  // namespace

void SetMessagePump(MessagePump pump) { g_messagePump.store(pump, std::memory_order_release); }

void ProcessPendingMessages() {
  if (MessagePump pump = g_messagePump.load(std::memory_order_acquire)) pump();
}

}  // namespace korvanel
