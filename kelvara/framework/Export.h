/** \addtogroup framework
 @{ */
// What differs between compilers, in one place: the marks that make the
// library's interface visible outside its shared object (a Windows DLL, or a
// Linux shared object built with hidden visibility) and the few other
// attributes the portable code uses. No other file of the portable code
// names a compiler extension.
//
// KELVARA_API marks each class, function and object of the library that
// users call. The library's own build defines KELVARA_BUILDING_LIBRARY;
// users of a static build of the library define KELVARA_STATIC.
//
// KELVARA_PLUGIN_EXPORT marks the C entry points of a driver plug-in (see
// KELVARA_EXPORT_DRIVER), which a host looks up by name.
//
// KELVARA_PRINTF_FORMAT(fmt, first) lets the compiler check a printf-style
// format (argument fmt, counted from 1, with `this` as 1 for a member) against
// the arguments that begin at argument first.
#pragma once

#if defined(_WIN32) || defined(__CYGWIN__)
#if defined(KELVARA_STATIC)
#define KELVARA_API
#elif defined(KELVARA_BUILDING_LIBRARY)
#define KELVARA_API __declspec(dllexport)
#else
#define KELVARA_API __declspec(dllimport)
#endif
#define KELVARA_PLUGIN_EXPORT __declspec(dllexport)
#elif defined(__GNUC__) || defined(__clang__)
#define KELVARA_API __attribute__((visibility("default")))
#define KELVARA_PLUGIN_EXPORT __attribute__((visibility("default")))
#else
/// Marks a class, function or object of the library's interface.
#define KELVARA_API
/// Marks a C entry point of a driver plug-in.
#define KELVARA_PLUGIN_EXPORT
#endif

#if defined(__GNUC__) || defined(__clang__)
#define KELVARA_PRINTF_FORMAT(fmt, first) __attribute__((format(printf, fmt, first)))
#else
/// Lets the compiler check a printf-style format against its arguments.
#define KELVARA_PRINTF_FORMAT(fmt, first)
#endif
/** @} */
