/* Windows calls of this platform, over dlopen/dlsym.
 *
 * Module names the system asks for ("OpenCL.dll", "omptarget.dll", the
 * vendor's "ovx_..." libraries, the Level Zero loader) are mapped to this
 * platform's shared objects by the table of <ovxplat/win32_map.h>. Names are
 * matched without case and without directory; ".dll" is implied when the name
 * has no extension. A name that is not in the table loads only when it is a
 * path or a file name of a shared object (it contains '/' or ".so").
 *
 * Handles (HMODULE) are dlopen handles. Failures set the thread's last error
 * (GetLastError): ERROR_MOD_NOT_FOUND for a module that is absent or cannot be
 * loaded, ERROR_PROC_NOT_FOUND for a missing entry point,
 * ERROR_INVALID_PARAMETER for bad arguments, ERROR_INSUFFICIENT_BUFFER for a
 * truncated file name.
 */
#ifndef OVXPLAT_WINDOWS_H
#define OVXPLAT_WINDOWS_H

#include <stddef.h>
#include <stdint.h>
#include <stdarg.h>
#include <wchar.h>

#ifdef __cplusplus
extern "C" {
#endif

#ifndef WINAPI
#define WINAPI
#endif
#ifndef APIENTRY
#define APIENTRY
#endif
#ifndef CALLBACK
#define CALLBACK
#endif

typedef int BOOL;
typedef unsigned char BYTE;
typedef uint16_t WORD;
typedef uint32_t DWORD;
typedef int32_t LONG;
typedef uint32_t ULONG;
typedef int64_t LONGLONG;
typedef uint64_t ULONGLONG;
typedef uintptr_t ULONG_PTR;
typedef uintptr_t DWORD_PTR;
typedef intptr_t INT_PTR;
typedef uintptr_t UINT_PTR;
typedef intptr_t LONG_PTR;
typedef size_t SIZE_T;
typedef unsigned int UINT;
typedef int INT;
typedef char CHAR;
typedef wchar_t WCHAR;
typedef void VOID;
typedef void* PVOID;
typedef void* LPVOID;
typedef const void* LPCVOID;
typedef char* LPSTR;
typedef const char* LPCSTR;
typedef WCHAR* LPWSTR;
typedef const WCHAR* LPCWSTR;
typedef DWORD* LPDWORD;
typedef void* HANDLE;
typedef void* HLOCAL;
typedef struct HINSTANCE__* HINSTANCE;
typedef HINSTANCE HMODULE;
typedef INT_PTR (*FARPROC)(void);
typedef long HRESULT;

#ifndef TRUE
#define TRUE 1
#endif
#ifndef FALSE
#define FALSE 0
#endif
#ifndef MAX_PATH
#define MAX_PATH 260
#endif

/* Error codes (GetLastError). */
#define ERROR_SUCCESS 0u
#define ERROR_FILE_NOT_FOUND 2u
#define ERROR_NOT_ENOUGH_MEMORY 8u
#define ERROR_INVALID_PARAMETER 87u
#define ERROR_INSUFFICIENT_BUFFER 122u
#define ERROR_MOD_NOT_FOUND 126u
#define ERROR_PROC_NOT_FOUND 127u

/* LoadLibraryEx flags (accepted; the search order is the module map's). */
#define DONT_RESOLVE_DLL_REFERENCES 0x00000001u
#define LOAD_LIBRARY_AS_DATAFILE 0x00000002u
#define LOAD_WITH_ALTERED_SEARCH_PATH 0x00000008u
#define LOAD_LIBRARY_SEARCH_DLL_LOAD_DIR 0x00000100u
#define LOAD_LIBRARY_SEARCH_APPLICATION_DIR 0x00000200u
#define LOAD_LIBRARY_SEARCH_USER_DIRS 0x00000400u
#define LOAD_LIBRARY_SEARCH_SYSTEM32 0x00000800u
#define LOAD_LIBRARY_SEARCH_DEFAULT_DIRS 0x00001000u
#define LOAD_LIBRARY_SAFE_CURRENT_DIRS 0x00002000u

/* GetModuleHandleEx flags. */
#define GET_MODULE_HANDLE_EX_FLAG_PIN 0x00000001u
#define GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT 0x00000002u
#define GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS 0x00000004u

/* FormatMessage flags. */
#define FORMAT_MESSAGE_ALLOCATE_BUFFER 0x00000100u
#define FORMAT_MESSAGE_IGNORE_INSERTS 0x00000200u
#define FORMAT_MESSAGE_FROM_STRING 0x00000400u
#define FORMAT_MESSAGE_FROM_HMODULE 0x00000800u
#define FORMAT_MESSAGE_FROM_SYSTEM 0x00001000u
#define FORMAT_MESSAGE_ARGUMENT_ARRAY 0x00002000u
#define FORMAT_MESSAGE_MAX_WIDTH_MASK 0x000000FFu
#define LANG_NEUTRAL 0x00
#define SUBLANG_DEFAULT 0x01
#define MAKELANGID(p, s) ((((WORD)(s)) << 10) | (WORD)(p))

/* Module lookup among the modules already loaded in the process; takes no
 * reference. Null `name`: the main program. Null when not loaded. */
HMODULE WINAPI GetModuleHandleA(LPCSTR name);
HMODULE WINAPI GetModuleHandleW(LPCWSTR name);
/* As GetModuleHandleW, writing the handle to *module (null on failure).
 * With GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS `name` is an address inside
 * the module (code or data). Without ..._UNCHANGED_REFCOUNT the module's
 * reference count is raised (give it back with FreeLibrary). */
BOOL WINAPI GetModuleHandleExA(DWORD flags, LPCSTR name, HMODULE* module);
BOOL WINAPI GetModuleHandleExW(DWORD flags, LPCWSTR name, HMODULE* module);
/* Full path of the module's file (null module: the program). Returns the
 * length copied without the terminator; on truncation copies size-1
 * characters, terminates, returns `size` and sets
 * ERROR_INSUFFICIENT_BUFFER; 0 on failure. */
DWORD WINAPI GetModuleFileNameA(HMODULE module, LPSTR filename, DWORD size);
DWORD WINAPI GetModuleFileNameW(HMODULE module, LPWSTR filename, DWORD size);
/* Loads a module (mapped name, path or shared-object name). `file` must be
 * null. Null with ERROR_MOD_NOT_FOUND when absent or not loadable. */
HMODULE WINAPI LoadLibraryA(LPCSTR name);
HMODULE WINAPI LoadLibraryW(LPCWSTR name);
HMODULE WINAPI LoadLibraryExA(LPCSTR name, HANDLE file, DWORD flags);
HMODULE WINAPI LoadLibraryExW(LPCWSTR name, HANDLE file, DWORD flags);
BOOL WINAPI FreeLibrary(HMODULE module);
/* Exported symbol of a module (searched in the module and the libraries it
 * depends on); null with ERROR_PROC_NOT_FOUND when missing. */
FARPROC WINAPI GetProcAddress(HMODULE module, LPCSTR name);

DWORD WINAPI GetLastError(void);
void WINAPI SetLastError(DWORD code);

/* FORMAT_MESSAGE_FROM_SYSTEM texts for the error codes above ("The
 * specified module could not be found.\r\n" ...); an unknown code gives
 * "Unknown error <n>.\r\n". With
 * FORMAT_MESSAGE_ALLOCATE_BUFFER `buffer` is really a LPSTR* that receives a
 * block to give back with LocalFree. FORMAT_MESSAGE_FROM_STRING copies the
 * format text (inserts are not expanded). Returns the length written
 * without the terminator, 0 on failure. */
DWORD WINAPI FormatMessageA(DWORD flags, LPCVOID source, DWORD message_id,
                            DWORD language_id, LPSTR buffer, DWORD size,
                            va_list* arguments);
HLOCAL WINAPI LocalFree(HLOCAL mem);

#ifdef __cplusplus
}
#endif

#endif
