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

namespace ps2 {

template <size_t N>
const char* error_text_at(const char* const (&texts)[N], size_t index)
{
    return index < N ? texts[index] : "unknown error";
}

} // namespace ps2
