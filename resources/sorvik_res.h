/* sorvik_res.h -- resource ids of SORVIK's window: dialog "MAIN", icon group "ICON" (shared: tool_window_res.h) */
#ifndef PS2_SORVIK_RES_H
#define PS2_SORVIK_RES_H

#include "tool_window_res.h"

#define IDC_TOOL_ICON 128 /* the icon in the window's top left corner */
/* The option box IDC_OPTION_BOX is the check box "USE TEMP NAME". */

#endif
