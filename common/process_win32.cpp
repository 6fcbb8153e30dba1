/* process_win32.cpp -- starting programs on Windows */
#include "common/platform.h"

#include <windows.h>

namespace ps2::plat {

IoError start_process(const char*, bool, ProcessHandle*) { return IoError::unsupported; }
bool process_has_ended(ProcessHandle, unsigned) { return true; }
void close_process(ProcessHandle) {}

} // namespace ps2::plat
