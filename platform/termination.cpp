#include "termination.h"

#include <atomic>

namespace {
std::atomic<bool> g_requested{false};
}

void RequestTermination() { g_requested = true; }
bool TerminationRequested() { return g_requested; }
