// Stand-in until loading and saving are built: opens with what AppletSettings holds.
#include "settings.h"

AppletSettingsRecord AppletSettings;

void DetectDeviceProfile() {}
bool IsReferencePlatform() { return false; }
bool LoadSettings() { return true; }
void SaveSettings() {}
void NotifySettingsChange() {}
