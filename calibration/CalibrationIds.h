/* Resource and control ids of the calibration dialog (template 300) and the
   target window (template 201). Plain #defines: the resource compiler reads
   this file too. */
#pragma once

#define IDD_CALIBRATION 300
#define IDD_TARGET 201

#define IDC_TARGET_TEXT 200
#define IDC_UNUSED_EDIT 301
#define IDC_RIGHT_BUTTON 302
#define IDC_RB_TIME 303
#define IDC_RB_RANGE 304
#define IDC_SECOND_SWITCH 305
#define IDC_RB_OK 306
#define IDC_SELECTOR 307
#define IDC_CALIBRATION 308
#define IDC_ABOUT 309
#define IDC_EXIT 310
#define IDC_BLANK_TEXT 311
#define IDC_TIME_LABEL 312
#define IDC_SETTINGS_GROUP 313
#define IDC_RANGE_LABEL 314
#define IDC_SMALL_TEXT 315
#define IDC_RESET 316

/* The application's own resources the dialog uses when they are linked in. */
#define IDS_ABOUT_ITEM 101
#define IDI_PROGRAM 128
