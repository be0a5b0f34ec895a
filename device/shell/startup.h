// The programs that the device starts at boot: the shortcuts in \Windows\StartUp.
#pragma once

// Starts every entry of \Windows\StartUp, in the order of their names. An entry that cannot
// be read or started is skipped.
void RunStartupFolder();
