// The one export macro of the library. The library is built with hidden
// visibility; exported classes and functions carry MOX_API.
#pragma once

#if defined(_WIN32)
#if defined(MOX_BUILDING_LIBRARY)
#define MOX_API __declspec(dllexport)
#else
#define MOX_API __declspec(dllimport)
#endif
#else
#define MOX_API __attribute__((visibility("default")))
#endif
