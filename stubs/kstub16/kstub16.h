/* Resource numbers shared by kstub16.c and kstub16.rc. */
#pragma once

#define IDD_REPLACE 100
#define IDD_PROGRESS 101

#define IDC_SIGN 1000
#define IDC_QUESTION 1001
#define IDC_YES_TO_ALL 1002
#define IDC_FILE 1003
#define IDC_BAR 1004
