#include "sim/calls.h"

#include <atomic>

namespace sim {
namespace calls {
namespace {

std::atomic<uint64_t> g_counts[4];

}  // namespace

Counts Made()
{
    Counts c;
    c.dsp = g_counts[static_cast<int>(On::kDsp)].load();
    c.mixer = g_counts[static_cast<int>(On::kMixer)].load();
    c.gpio = g_counts[static_cast<int>(On::kGpio)].load();
    c.card = g_counts[static_cast<int>(On::kCard)].load();
    return c;
}

void Count(On on)
{
    g_counts[static_cast<int>(on)].fetch_add(1, std::memory_order_relaxed);
}

}  // namespace calls
}  // namespace sim
