#pragma once
// What the simulated device interface saw, for tests.
namespace sim {
int DevIfInitCalls();
int DevIfQuitCalls();
}  // namespace sim
