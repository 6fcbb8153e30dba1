/* errors.h -- the pattern for error codes: one X-macro list per module gives the enum and its texts */
#pragma once

#include <cstddef>
#include <iterator>

/* Usage, in a module header:
 *   #define PSU_ERROR_LIST(X) X(ok, "ok") X(truncated, "archive ends inside an entry")
 *   enum class PsuError : uint8_t { PSU_ERROR_LIST(PS2_ERROR_ENUM) };
 *   const char* psu_error_text(PsuError e);
 * and in its source file:
 *   const char* psu_error_text(PsuError e)
 *   {
 *       static const char* const texts[] = { PSU_ERROR_LIST(PS2_ERROR_TEXT) };
 *       return ps2::error_text_at(texts, size_t(e));
 *   }
 * The first item is always `ok`, so a value-initialised code means success. */
#define PS2_ERROR_ENUM(name, text) name,
#define PS2_ERROR_TEXT(name, text) text,

/* The codes that more than one module returns. A list that has any of them
 * begins with this one, so each keeps one name and one value in every enum
 * (ok first, as always); the module's own codes follow:
 *   #define PS2_IO_ERROR_LIST(X) PS2_SHARED_ERROR_LIST(X) X(read_failed, "cannot read the file") ...
 * A module whose lines must word a shared code its own way passes the texts:
 *   PS2_SHARED_ERROR_LIST_WORDED(X, PS2_TEXT_NO_MEMORY, PS2_TEXT_OPEN_FAILED, "not renamed: ...") */
#define PS2_TEXT_NO_MEMORY "not enough memory"
#define PS2_TEXT_OPEN_FAILED "cannot open the file"
#define PS2_TEXT_TARGET_EXISTS "a file of the new name exists already"

#define PS2_SHARED_ERROR_LIST_WORDED(X, no_memory_text, open_failed_text, target_exists_text) \
    X(ok, "ok")                                                                              \
    X(no_memory, no_memory_text)                                                             \
    X(open_failed, open_failed_text)                                                         \
    X(target_exists, target_exists_text)
#define PS2_SHARED_ERROR_LIST(X) \
    PS2_SHARED_ERROR_LIST_WORDED(X, PS2_TEXT_NO_MEMORY, PS2_TEXT_OPEN_FAILED, PS2_TEXT_TARGET_EXISTS)

namespace ps2 {

template <size_t N>
const char* error_text_at(const char* const (&texts)[N], size_t index)
{
    return index < N ? texts[index] : "unknown error";
}

} // namespace ps2
