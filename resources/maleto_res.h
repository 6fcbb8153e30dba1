/* maleto_res.h -- resource ids of MALETO's window: dialog "MAIN", icon group "ICON" (shared: tool_window_res.h) */
#ifndef PS2_MALETO_RES_H
#define PS2_MALETO_RES_H

#include "tool_window_res.h"

#define IDC_TOOL_ICON 0 /* the icon in the window's top left corner */
/* The option box IDC_OPTION_BOX is the check box "REMOVE SJIS". */

#endif
