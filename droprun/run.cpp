/* run.cpp -- one file's run over a RunHost */
#include "droprun/run.h"

namespace ps2::droprun {

bool run_file(std::string_view path, const SystemFolders& folders, const PathRules& rules, RunHost& host,
              ValueQuoting quoting)
{
    PathBuffer field;
    host.read_field(FormField::tail_filter, &field);
    const bool taken = tail_filter_takes({field.c_str(), field.length()}, path, rules.step);
    host.filter_decided(taken);
    if (!taken) return false;

    const PlaceholderValues values = work_out_values(path, folders, rules);
    PlaceholderValues command_values = values;
    if (quoting == ValueQuoting::escape_double_quotes)
        for (std::string& v : command_values.value) v = escape_double_quotes(v);
    PathBuffer expanded;

    host.read_field(FormField::working_folder, &field);
    if (field.length() != 0) {
        if (expand_template({field.c_str(), field.length()}, values, &expanded))
            host.enter_folder(expanded.c_str());
        else
            host.expansion_too_long(FormField::working_folder);
    }

    host.read_field(FormField::hide_window, &field);
    const bool hide_window = field.length() != 0;
    host.read_field(FormField::no_wait, &field);
    const bool wait = field.length() == 0;

    for (const FormField f : {FormField::command1, FormField::command2, FormField::command3, FormField::command4}) {
        host.read_field(f, &field);
        if (field.length() == 0) continue;
        if (expand_template({field.c_str(), field.length()}, command_values, &expanded))
            host.start_command(f, expanded.c_str(), hide_window, wait);
        else
            host.expansion_too_long(f);
    }
    return true;
}

} // namespace ps2::droprun
