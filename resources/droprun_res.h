/* droprun_res.h -- resource names and control ids of DROPRUN (resources/droprun.rc, droprun/droprun_win32.cpp) */
#pragma once

/* Resources are addressed by name: IDD_MAIN and IDI_ICON as every tool has them. */
#include "tool_window_res.h"

/* The preset form. */
#define IDC_PRESET 128         /* combo box: the preset names */
#define IDC_COMMAND1 129       /* the four command line templates */
#define IDC_COMMAND2 130
#define IDC_COMMAND3 131
#define IDC_COMMAND4 132
#define IDC_WORKING_FOLDER 133
#define IDC_HIDE_WINDOW 134    /* any text: start the programs hidden */
#define IDC_NO_WAIT 135        /* any text: do not wait for their end */
#define IDC_TAIL_FILTER 136    /* endings separated by "|" */
