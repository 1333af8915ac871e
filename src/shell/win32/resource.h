// Resource ids shared by launcher.rc and the window code.
#pragma once

#define IDD_LAUNCHER_DIALOG 102
#define IDR_MAINFRAME 128
