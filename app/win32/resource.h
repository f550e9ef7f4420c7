// Resource ids of Vantrel.exe (shared by Vantrel.rc and the code).
#pragma once

#define IDD_ABOUTBOX 100
#define IDS_ABOUTBOX 101
#define IDD_VANTREL_DIALOG 102
#define IDR_MAINFRAME 128

#define IDC_ABOUT 1000
#define IDC_CALIBRATION 1001
#define IDC_MOUSE 1002
#define IDC_AUTOSTART 1003
#define IDC_ABOUT_VERSION 1010

#ifndef IDC_STATIC
#define IDC_STATIC (-1)
#endif
