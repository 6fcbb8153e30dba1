/* taviro_res.h -- resource ids of TAVIRO: the list window, its menu "MAIN", the "HELP" and "ABOUT" dialogs */
#ifndef TAVIRO_RES_H
#define TAVIRO_RES_H

/* Resource names (strings, not numbers); IDD_MAIN and IDI_ICON as every tool has them. */
#include "tool_window_res.h"
#define IDD_HELP "HELP"
#define IDD_ABOUT "ABOUT"
#define IDR_MENU "MAIN"

/* Controls. */
#define IDC_LIST 128 /* the main window's list box */
#define IDC_INFO_ICON 128 /* the icon of the Help and About dialogs */
#define IDC_TEXT 129 /* their text */
#define IDC_OK 130   /* their OK button */

/* Menu commands. */
#define IDM_ADD_FILE 256
#define IDM_SAVE_CODED 257
#define IDM_SAVE_RAW 258
#define IDM_EXIT 259
#define IDM_CLEAR 260
#define IDM_DELETE 261
#define IDM_MOVE_UP 262
#define IDM_MOVE_DOWN 263
#define IDM_SORT_ASCENDING 264
#define IDM_SORT_DESCENDING 265
#define IDM_HELP 266
#define IDM_ABOUT 267

#endif
