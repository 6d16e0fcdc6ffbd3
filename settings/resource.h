// Identifiers shared by the settings dialog's resources and its code.
#pragma once

#define IDI_RESKEEPER 1
#define IDD_SETTINGS 100
#define IDD_CONFIRM 101

#define IDC_USER 1001
#define IDC_KEPT 1002
#define IDC_PRESENT 1003
#define IDC_FILE 1004
#define IDC_MODES 1005
#define IDC_KEEP 1006
#define IDC_FINDINGS 1007
#define IDC_OUTCOME 1008
#define IDC_REFRESH 1009

#define IDC_COUNTDOWN 1101
#define IDC_KEEP_NEW 1102
#define IDC_RETURN 1103
