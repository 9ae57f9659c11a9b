#ifndef RESOURCE_H
#define RESOURCE_H

// Icons, menus, cursors and dialog templates.
#define IDD_QUILLMOTH_DIALOG 102
#define IDC_LINK_CURSOR 114
#define IDR_MAINFRAME 128
#define IDD_ABOUTBOX 129
#define IDR_TRAYMENU 141
#define IDI_TRAY_RUNNING 142
#define IDI_TRAY_STOPPED 143
#define IDI_TRAY_IDLE 144
#define IDD_LINK 157
#define IDD_MONITOR 158
#define IDD_ARGUMENTS 159

// Console controls.
#define IDC_SUSPEND 1000
#define IDC_STOP 1001
#define IDC_HIDE 1002
#define IDC_OUTPUT 1003
#define IDC_INDICATOR 1004
#define IDC_ABOUT 1005
#define IDC_HELPBUTTON 1006
#define IDC_LOAD 1012
#define IDC_ARGUMENTS 1013
#define IDC_STATUS 1028
#define IDC_LINK_TEXT 1031
#define IDC_LINK_MARK 1033
#define IDC_VERSION_LABEL 1040
#define IDC_COUNT 1081

// Monitor controls (the output box and status line share the console's ids).
#define IDC_SERVICE_START 1090
#define IDC_SERVICE_STOP 1091
#define IDC_LAST_RUN 1092

// Tray pop-up commands.
#define ID_TRAY_SHOW 32771
#define ID_TRAY_HIDE 32772

#endif
