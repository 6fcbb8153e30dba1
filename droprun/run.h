/* run.h -- one file's run: tail filter, values, working folder, the four command lines, in their order */
#pragma once

#include "common/paths.h"
#include "droprun/expand.h"
#include "droprun/presets.h"

namespace ps2::droprun {

/* What a run needs from its surroundings. The Windows window reads its
 * edit fields and starts programs with CreateProcessA; the command-line
 * tool reads a preset and starts programs without a shell; tests record. */
class RunHost {
public:
    /* The field's text as it stands at this moment (at most 1023 bytes). */
    virtual void read_field(FormField field, PathBuffer* text) = 0;
    /* The tail filter's verdict, before anything else happens for the file. */
    virtual void filter_decided(bool /*taken*/) {}
    /* Makes the expanded working folder the current folder; not called when
     * the field is empty. A failure is the host's to report: the run goes on. */
    virtual void enter_folder(const char* folder) = 0;
    /* Starts one expanded command line (field is 129-132) and, with wait,
     * returns only after the program has ended. */
    virtual void start_command(FormField field, const char* command_line, bool hide_window, bool wait) = 0;
    /* The field's expansion would not fit 1023 bytes: that folder change or
     * command is skipped and the run goes on. */
    virtual void expansion_too_long(FormField field) = 0;

protected:
    ~RunHost() = default;
};

/* How the values go into the command lines (never into the working folder,
 * which is a path and not split). */
enum class ValueQuoting {
    as_is,                /* Windows: names hold no double quotes */
    escape_double_quotes, /* POSIX: see escape_double_quotes() */
};

/* Runs the form for one path (at most 1023 bytes):
 * 1. reads field 136; a filter that does not take the path ends the run;
 * 2. works out the seven values;
 * 3. reads field 133 and, when it is not empty, enters the expanded folder;
 * 4. reads fields 134 (hide window) and 135 (do not wait);
 * 5. for 129, 130, 131, 132 in turn: reads the field just before its turn
 *    (so a field changed while an earlier program ran counts) and, when not
 *    empty, starts its expansion.
 * Returns whether the filter took the path. */
bool run_file(std::string_view path, const SystemFolders& folders, const PathRules& rules, RunHost& host,
              ValueQuoting quoting = ValueQuoting::as_is);

} // namespace ps2::droprun
