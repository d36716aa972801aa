#pragma once

// The Windows initialisation-file functions on plain text files. Sections and keys match without
// regard to case, names and values are read with surrounding blanks removed and one pair of
// matching quotes stripped, the first matching section and key win, and lines without "=" are
// not keys. Writes keep every other line as it was and replace the file atomically.

#include "platform/com/types.h"

// Copies the value (or the default) into `returned`, cut to size - 1 characters plus the
// terminator; returns the characters copied. A null section lists the section names, a null key
// the section's key names, each zero-terminated with one more zero at the end (return size - 2
// when cut).
DWORD GetPrivateProfileStringA(const char* appName, const char* keyName, const char* defaultValue,
                               char* returned, DWORD size, const char* fileName);

// Sets a key, creating the file, the section and the key as needed. A null value deletes the key,
// a null key the whole section. Fails for a null section, for a file that cannot be written and
// for names or values that the file could not hold (line breaks, a "=" in a key, a "]" in a
// section name).
BOOL WritePrivateProfileStringA(const char* appName, const char* keyName, const char* value,
                                const char* fileName);

// The value read as a decimal number (wrapping as Windows does, "-1" gives 0xFFFFFFFF, digits stop
// at the first other character); the default when the key is missing or empty.
UINT GetPrivateProfileIntA(const char* appName, const char* keyName, int defaultValue,
                           const char* fileName);
