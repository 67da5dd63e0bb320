/* The baud-rate viewer's resources, read by the C++ code (platform/dialog_entries.h) and by the
   resource script corvin.rc (platform/win32/dialog_entries.rc.h). Only preprocessor lines here:
   the resource compiler reads this file too. */
#pragma once

#define CORVIN_TITLE_STRING 1
#define CORVIN_CLASS_STRING 2
#define CORVIN_ICON 101
#define CORVIN_DIALOG 129

#define CORVIN_GET_BAUD_RATE 1
#define CORVIN_QUIT 2
#define CORVIN_BAUD_RATE_FIELD 1000

#define CORVIN_STRINGS(STRING)          \
  STRING(CORVIN_TITLE_STRING, "Corvin") \
  STRING(CORVIN_CLASS_STRING, "Corvin")

#define CORVIN_DIALOG_TITLE "Dialog"
#define CORVIN_DIALOG_CLASS "Corvin"
#define CORVIN_DIALOG_WIDTH 186
#define CORVIN_DIALOG_HEIGHT 90
#define CORVIN_DIALOG_FONT "MS Shell Dlg"
#define CORVIN_DIALOG_FONT_POINTS 8

#define CORVIN_CONTROLS(CONTROL)                                                \
  CONTROL(DefaultButton, CORVIN_GET_BAUD_RATE, "Get Baud Rate", 28, 69, 60, 14) \
  CONTROL(Button, CORVIN_QUIT, "Quit", 103, 69, 50, 14)                         \
  CONTROL(Label, -1, "Built-in Bluetooth Baud Rate:", 33, 19, 102, 13)          \
  CONTROL(Edit, CORVIN_BAUD_RATE_FIELD, "", 29, 35, 110, 13)
