// Resource ids of the notifier.
#pragma once

#define IDI_UNLOCKED 101 // shown while the lock is off
#define IDI_LOCKED 102   // shown while the lock is in force
