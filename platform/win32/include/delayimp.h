/* Delay-load notification types of the Windows layer.
 *
 * This platform has no delay-loading linker: nothing calls a notification
 * hook by itself. The types let a library keep its hook (which decides where
 * a delay-loaded vendor library comes from) and test it by calling it with
 * the notifications the Windows loader would send.
 */
#ifndef OVXPLAT_DELAYIMP_H
#define OVXPLAT_DELAYIMP_H

#include <windows.h>

#ifdef __cplusplus
extern "C" {
#endif

enum {
    dliStartProcessing = 0,     /* before anything is done */
    dliNotePreLoadLibrary = 1,  /* before the library is loaded: a hook may return its own HMODULE */
    dliNotePreGetProcAddress = 2,
    dliFailLoadLib = 3,         /* the library could not be loaded: a hook may return a HMODULE */
    dliFailGetProc = 4,
    dliNoteEndProcessing = 5,
    dliLastNotification = dliNoteEndProcessing
};

typedef struct DelayLoadProc {
    BOOL fImportByName;
    union {
        LPCSTR szProcName;
        DWORD dwOrdinal;
    };
} DelayLoadProc;

typedef struct ImgDelayDescr ImgDelayDescr;
typedef const ImgDelayDescr* PCImgDelayDescr;

typedef struct DelayLoadInfo {
    DWORD cb;               /* size of this structure */
    PCImgDelayDescr pidd;   /* descriptor of the import (opaque here) */
    FARPROC* ppfn;          /* slot of the entry being bound */
    LPCSTR szDll;           /* name of the library, e.g. "ovx_pwk_thread.2.dll" */
    DelayLoadProc dlp;      /* the entry */
    HMODULE hmodCur;        /* the library's handle once loaded */
    FARPROC pfnCur;         /* the entry's address once found */
    DWORD dwLastError;      /* error of a failure notification */
} DelayLoadInfo, *PDelayLoadInfo;

typedef FARPROC (WINAPI* PfnDliHook)(unsigned dliNotify, PDelayLoadInfo pdli);

#ifdef __cplusplus
}
#endif

#endif
