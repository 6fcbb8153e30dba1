/* varkon_res.h -- resource ids of VARKON's window: dialog "MAIN", icon group "ICON" */
#ifndef PS2_VARKON_RES_H
#define PS2_VARKON_RES_H

#define IDC_TOOL_ICON  128  /* the icon in the window's top left corner */
#define IDC_USAGE_TEXT 128  /* the usage text */

#endif
