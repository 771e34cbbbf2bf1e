#include "ui/launcher_app_win.h"

void tick(LauncherApp& app) { (void)app; }
