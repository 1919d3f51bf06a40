#pragma once
// The battery of a generic embedded Linux, as the kernel's power-supply class
// shows it.

// The level the recorder counts in, 1 (full) to 4 (the last quarter, at which
// it warns), of the first battery listed in a folder laid out like
// /sys/class/power_supply. 1 when none is listed or none has a charge that
// can be read: a handheld on its charger or a PC that cannot tell must not
// warn of a low battery every five minutes.
int BatteryLevel(const char* power_supply);
