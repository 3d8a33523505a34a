/* The two entry points our hook library expects on top of stock PCRE, and a
 * table builder that never leaves the host process's locale changed: this DLL
 * shares msvcrt (and so its locale) with explorer.exe and every other host. */
#include "config.h"
#include "pcre_internal.h"

#include <locale.h>
#include <string.h>

#ifndef _ENABLE_PER_THREAD_LOCALE
#define _ENABLE_PER_THREAD_LOCALE 0x1
#endif
_CRTIMP int __cdecl _configthreadlocale(int flag);

extern const pcre_uint8 *vm_pcre_maketables_in_current_locale(void);

static char wanted_locale[128] = "C";

static int is_c_locale(const char *name) {
  return name[0] == '\0' || strcmp(name, "C") == 0 || strcmp(name, "POSIX") == 0;
}

/* Chooses the locale the next pcre_maketables builds its tables from.
 * Returns 1 when the name is usable, 0 when it is refused (NULL or too long);
 * a refused name leaves the previous choice in place. */
__declspec(dllexport) int pcre_setlocale(const char *name) {
  if (name == NULL) return 0;
  size_t n = strlen(name);
  if (n >= sizeof(wanted_locale)) return 0;
  memcpy(wanted_locale, name, n + 1);
  return 1;
}

/* Frees memory this library handed out (compiled patterns, study data,
 * tables) with the allocator that made it. */
__declspec(dllexport) void pcre_free_ex(void *p) {
  if (p != NULL) (*pcre_free)(p);
}

const unsigned char *pcre_maketables(void) {
  if (is_c_locale(wanted_locale)) {
    /* The built-in tables were generated in the "C" locale: copy them rather
     * than touch the process's locale at all. */
    pcre_uint8 *copy = (pcre_uint8 *)(*pcre_malloc)(tables_length);
    if (copy != NULL) memcpy(copy, PRIV(default_tables), tables_length);
    return copy;
  }
  /* Another locale: switch this thread only, and always switch back. */
  int previous_mode = _configthreadlocale(_ENABLE_PER_THREAD_LOCALE);
  const char *current = setlocale(LC_CTYPE, NULL);
  char saved[256];
  saved[0] = '\0';
  if (current != NULL && strlen(current) < sizeof(saved)) strcpy(saved, current);
  const unsigned char *tables = NULL;
  if (saved[0] != '\0' && setlocale(LC_CTYPE, wanted_locale) != NULL) {
    tables = vm_pcre_maketables_in_current_locale();
    setlocale(LC_CTYPE, saved);
  }
  if (previous_mode != -1) _configthreadlocale(previous_mode);
  return tables;
}
