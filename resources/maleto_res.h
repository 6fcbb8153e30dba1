/* maleto_res.h -- resource ids of MALETO's window: dialog "MAIN", icon group "ICON" */
#ifndef PS2_MALETO_RES_H
#define PS2_MALETO_RES_H

#define IDC_TOOL_ICON  0  /* the icon in the window's top left corner */
#define IDC_USAGE_TEXT 128  /* the usage text */
#define IDC_OPTION_BOX 129  /* the check box "REMOVE SJIS" */

#endif
