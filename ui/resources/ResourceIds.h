// Resource and control identifiers, shared by the resource script and the code.
#pragma once

#define IDD_CONFIG 101
#define IDD_PANEL 103
#define IDB_LED_DARK 118
#define IDB_LED_LIT 119

// Configuration dialog
#define IDC_PORT 1000
#define IDC_BAUDRATE 1022
#define IDC_LOCK 1023
#define IDC_PARITY 1024
#define IDC_BYTESIZE 1025
#define IDC_STOPBITS 1026

// Status panel: LEDs and figure fields
#define IDC_LED_CS 1004
#define IDC_LED_DSR 1005
#define IDC_COMPUTED_SPEED 1007
#define IDC_ACTUAL_SPEED 1008
#define IDC_LED_CI 1009
#define IDC_LED_CD 1010
#define IDC_TIMER2_COUNT 1011
#define IDC_SYSTEM_CLOCK 1013
#define IDC_DIVIDER 1014
