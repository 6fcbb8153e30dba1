/* tool_window_res.h -- the resource names every tool's window is made from, and the control ids of the
 * drop-tool window that VARKON, QUILBAN, SORVIK and MALETO share (common/tool_window_win32.cpp) */
#ifndef PS2_TOOL_WINDOW_RES_H
#define PS2_TOOL_WINDOW_RES_H

/* Resources are addressed by name. The .rc files write the names bare: windres joins a quoted name
 * to a quoted file name just before it. */
#define IDD_MAIN "MAIN"
#define IDI_ICON "ICON"

/* The drop-tool window; each tool's own header adds IDC_TOOL_ICON, the id of its icon. */
#define IDC_USAGE_TEXT 128 /* the usage text */
#define IDC_OPTION_BOX 129 /* the check box, in the tools that have one */

#endif
