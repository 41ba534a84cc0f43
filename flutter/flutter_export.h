// Export macro of the engine library's C functions. The library defines
// FLUTTER_DESKTOP_LIBRARY while it builds itself; everyone else links to the
// functions plainly (through the import library or an in-process double).
#pragma once

#if defined(FLUTTER_DESKTOP_LIBRARY) && defined(_WIN32)
#define FLUTTER_EXPORT __declspec(dllexport)
#else
#define FLUTTER_EXPORT
#endif
