/*
 * morvel: rewrite PDF files as linearized ("fast web view") PDF files and
 * check whether a PDF file is already linearized.
 *
 * The interface is these functions. Paths are NUL-terminated byte strings
 * passed unchanged to the system's file calls. The working functions return
 * 1 on success and 0 on failure; after a failure morvel_last_error() holds
 * one human-readable message, after a success it holds "". There are no
 * handles.
 *
 * Calls may overlap when they come from different threads: nothing is
 * shared between calls. The error text is kept per thread: each thread sees
 * the message of its own most recent call.
 */
#ifndef MORVEL_H
#define MORVEL_H

#include <stddef.h>

/* The version of this header. morvel_version() gives the loaded library's,
 * which may be newer. */
#define MORVEL_VERSION_MAJOR 0
#define MORVEL_VERSION_MINOR 2
#define MORVEL_VERSION_PATCH 0
#define MORVEL_VERSION_STRING "0.2.0"

/* Windows: the library's own build defines MORVEL_BUILDING; a program that
 * links the static library defines MORVEL_STATIC. */
#if defined(_WIN32)
#if defined(MORVEL_STATIC)
#define MORVEL_API
#elif defined(MORVEL_BUILDING)
#define MORVEL_API __declspec(dllexport)
#else
#define MORVEL_API __declspec(dllimport)
#endif
#else
#define MORVEL_API __attribute__((visibility("default")))
#endif

#ifdef __cplusplus
extern "C" {
#endif

/* Empties the calling thread's error text. Always returns 1; calling it is
 * optional. */
MORVEL_API int morvel_init(void);

/* Empties the calling thread's error text. Nothing needs tearing down; later
 * calls still work. */
MORVEL_API void morvel_cleanup(void);

/* The calling thread's error text: never NULL, "" when there is no message.
 * The pointer stays the same for the thread's lifetime; the text changes
 * with the thread's later calls. At most 1023 bytes, UTF-8. */
MORVEL_API const char* morvel_last_error(void);

/* Returns 1 when the file at input_path starts with an acceptable
 * linearization dictionary whose /L equals the file size, 0 otherwise with
 * the reason in the error text (for example "/L mismatch: declared 1200 vs
 * actual 1187"). Reads at most the first 1023 bytes. */
MORVEL_API int morvel_check(const char* input_path);

/* Writes a linearized copy of input_path to output_path and returns 1, or
 * returns 0 with the reason in the error text. A failed call never creates
 * or changes the output file. Both paths may name the same file. The input
 * must be a regular file; encrypted and signed documents are refused. */
MORVEL_API int morvel_optimize(const char* input_path, const char* output_path);

/* Flags of morvel_optimize_ex. */
/* The compact form: objects after the first page packed into object streams,
 * cross-reference streams, unreferenced objects left out; PDF 1.5 or later.
 * A document declaring PDF/A-1 conformance keeps the default form. */
#define MORVEL_OBJECT_STREAMS 1u
/* Go ahead with a signed document (its signatures will no longer verify). */
#define MORVEL_ALLOW_SIGNED 2u

/* morvel_optimize with options: flags 0 gives exactly morvel_optimize's
 * result and bytes. Unknown bits fail ("unknown flags 0x4") and touch
 * nothing. */
MORVEL_API int morvel_optimize_ex(const char* input_path, const char* output_path, unsigned flags);

/* The loaded library's version, for example "0.2.0". */
MORVEL_API const char* morvel_version(void);

/* The errno of the system call that made the calling thread's last call
 * fail (ENOENT for a missing input, EACCES, EISDIR, ENOSPC, ...), 0 when the
 * last call succeeded or failed for another reason. Per thread, like the
 * error text. */
MORVEL_API int morvel_last_errno(void);

/* morvel_optimize_ex on a document held in memory: on success *output
 * points to *output_len bytes that the caller releases with morvel_free.
 * Results, messages ("<memory>" where a path would stand) and limits are
 * those of the file call; on failure *output is NULL and *output_len 0. */
MORVEL_API int morvel_optimize_mem(const void* input, size_t input_len, void** output, size_t* output_len,
                                   unsigned flags);

/* morvel_check on a document held in memory. */
MORVEL_API int morvel_check_mem(const void* input, size_t input_len);

/* Releases what morvel_optimize_mem returned; NULL is ignored. */
MORVEL_API void morvel_free(void* p);

#ifdef __cplusplus
}
#endif

#endif
