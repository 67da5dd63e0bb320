/* Quillon's resources, read by the C++ code (platform/dialog_entries.h) and by the resource
   script quillon.rc (platform/win32/dialog_entries.rc.h). Only preprocessor lines here: the
   resource compiler reads this file too. */
#pragma once

#define QUILLON_ICON 128
#define QUILLON_DIALOG 102

#define QUILLON_STRING_START 129
#define QUILLON_STRING_STOP 130
#define QUILLON_STRING_RESET 131
#define QUILLON_STRING_CLOSE 132

#define QUILLON_STATUS_LINE 1000
#define QUILLON_COM_PORT 1001
#define QUILLON_PSR_LIST 1002
#define QUILLON_COMMAND_BUTTON 1003

#define QUILLON_STRINGS(STRING)         \
  STRING(QUILLON_STRING_START, "Start") \
  STRING(QUILLON_STRING_STOP, "Stop")   \
  STRING(QUILLON_STRING_RESET, "Reset") \
  STRING(QUILLON_STRING_CLOSE, "Close")

#define QUILLON_DIALOG_TITLE "Quillon"
#define QUILLON_DIALOG_WIDTH 156
#define QUILLON_DIALOG_HEIGHT 102
#define QUILLON_DIALOG_FONT "MS Shell Dlg"
#define QUILLON_DIALOG_FONT_POINTS 8

/* The list's height holds its opened list. */
#define QUILLON_CONTROLS(CONTROL)                                  \
  CONTROL(Label, QUILLON_STATUS_LINE, "Static", 9, 71, 140, 18)    \
  CONTROL(Label, -1, "Bluetooth Module COM Port:", 7, 10, 92, 8)   \
  CONTROL(Edit, QUILLON_COM_PORT, "", 104, 7, 40, 14)              \
  CONTROL(Label, -1, "PSR File:", 7, 30, 34, 8)                    \
  CONTROL(Button, QUILLON_COMMAND_BUTTON, "Start", 55, 46, 50, 14) \
  CONTROL(DropList, QUILLON_PSR_LIST, "", 48, 27, 97, 59)
