/*
 * File Compression Interface: the cabinet writer's public C interface.
 *
 * Types, names, field order, prototypes and constants follow the interface
 * that Microsoft publishes for its cabinet library, so that a program written
 * against that documentation compiles and behaves the same against ours.
 * Windows-only decorations (FAR, HUGE, DIAMONDAPI) expand to nothing; ULONG
 * keeps its Windows width of 32 bits.
 */
#ifndef KP_CABINET_FCI_H
#define KP_CABINET_FCI_H

#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

#ifndef FAR
#define FAR
#endif
#ifndef HUGE
#define HUGE
#endif
#ifndef DIAMONDAPI
#define DIAMONDAPI
#endif

#ifndef KP_FCI_BASIC_TYPES
#define KP_FCI_BASIC_TYPES
typedef int BOOL;
typedef unsigned char BYTE;
typedef unsigned short USHORT;
typedef unsigned int UINT;
typedef uint32_t ULONG;
typedef char* LPSTR;
typedef intptr_t INT_PTR;
#endif

#ifndef TRUE
#define TRUE 1
#endif
#ifndef FALSE
#define FALSE 0
#endif

/* Compression type: type in the low nibble, LZX window or Quantum settings above it. */
typedef unsigned short TCOMP;

#define tcompMASK_TYPE 0x000F
#define tcompTYPE_NONE 0x0000
#define tcompTYPE_MSZIP 0x0001
#define tcompTYPE_QUANTUM 0x0002
#define tcompTYPE_LZX 0x0003
#define tcompBAD 0x000F

#define tcompMASK_LZX_WINDOW 0x1F00
#define tcompLZX_WINDOW_LO 0x0F00
#define tcompLZX_WINDOW_HI 0x1500
#define tcompSHIFT_LZX_WINDOW 8

#define tcompMASK_QUANTUM_LEVEL 0x00F0
#define tcompQUANTUM_LEVEL_LO 0x0010
#define tcompQUANTUM_LEVEL_HI 0x0070
#define tcompSHIFT_QUANTUM_LEVEL 4

#define tcompMASK_QUANTUM_MEM 0x1F00
#define tcompQUANTUM_MEM_LO 0x0A00
#define tcompQUANTUM_MEM_HI 0x1500
#define tcompSHIFT_QUANTUM_MEM 8

#define tcompMASK_RESERVED 0xE000

#define CompressionTypeFromTCOMP(tc) ((tc)&tcompMASK_TYPE)
#define CompressionLevelFromTCOMP(tc) (((tc)&tcompMASK_QUANTUM_LEVEL) >> tcompSHIFT_QUANTUM_LEVEL)
#define CompressionMemoryFromTCOMP(tc) (((tc)&tcompMASK_QUANTUM_MEM) >> tcompSHIFT_QUANTUM_MEM)
#define TCOMPfromTypeLevelMemory(t, l, m)                                                          \
    (((m) << tcompSHIFT_QUANTUM_MEM) | ((l) << tcompSHIFT_QUANTUM_LEVEL) | (t))
#define LZXCompressionWindowFromTCOMP(tc) (((tc)&tcompMASK_LZX_WINDOW) >> tcompSHIFT_LZX_WINDOW)
#define TCOMPfromLZXWindow(w) (((w) << tcompSHIFT_LZX_WINDOW) | (tcompTYPE_LZX))

/* Error record: erfOper is an FCIERR_ code, erfType the callback's own error. */
typedef struct {
    int erfOper;
    int erfType;
    BOOL fError;
} ERF;
typedef ERF FAR* PERF;

#define CB_MAX_CHUNK 32768U
#define CB_MAX_DISK 0x7fffffffL
#define CB_MAX_FILENAME 256
#define CB_MAX_CABINET_NAME 256
#define CB_MAX_CAB_PATH 256
#define CB_MAX_DISK_NAME 256

/* File attribute bits as stored in a cabinet. */
#ifndef _A_RDONLY
#define _A_RDONLY 0x01
#define _A_HIDDEN 0x02
#define _A_SYSTEM 0x04
#define _A_ARCH 0x20
#endif
#define _A_EXEC 0x40
#define _A_NAME_IS_UTF 0x80

typedef enum {
    FCIERR_NONE,
    FCIERR_OPEN_SRC,
    FCIERR_READ_SRC,
    FCIERR_ALLOC_FAIL,
    FCIERR_TEMP_FILE,
    FCIERR_BAD_COMPR_TYPE,
    FCIERR_CAB_FILE,
    FCIERR_USER_ABORT,
    FCIERR_MCI_FAIL,
    /* Data size or file count past the cabinet format's limits: more than
     * 0x7FFF8000 uncompressed bytes in a folder, more than 0xFFFF files or
     * folders in a cabinet, a name of CB_MAX_FILENAME bytes or more. */
    FCIERR_CAB_FORMAT_LIMIT
} FCIERROR;

/* C run-time open flags and permissions as the service passes them to the open callback. */
#ifndef _O_RDONLY
#define _O_RDONLY 0x0000
#define _O_WRONLY 0x0001
#define _O_RDWR 0x0002
#define _O_APPEND 0x0008
#define _O_CREAT 0x0100
#define _O_TRUNC 0x0200
#define _O_EXCL 0x0400
#define _O_TEXT 0x4000
#define _O_BINARY 0x8000
#endif
#ifndef _S_IREAD
#define _S_IREAD 0x0100
#define _S_IWRITE 0x0080
#endif

typedef struct {
    ULONG cb;             /* largest size of one cabinet */
    ULONG cbFolderThresh; /* compressed size at which a folder is closed */
    UINT cbReserveCFHeader;
    UINT cbReserveCFFolder;
    UINT cbReserveCFData;
    int iCab;  /* number of this cabinet in its set */
    int iDisk; /* disk number of this cabinet */
    int fFailOnIncompressible;
    USHORT setID;
    char szDisk[CB_MAX_DISK_NAME];
    char szCab[CB_MAX_CABINET_NAME];
    char szCabPath[CB_MAX_CAB_PATH];
} CCAB;
typedef CCAB FAR* PCCAB;

typedef void* HFCI;

typedef void HUGE*(FAR DIAMONDAPI* PFNFCIALLOC)(ULONG cb);
#define FNFCIALLOC(fn) void HUGE* FAR DIAMONDAPI fn(ULONG cb)

typedef void(FAR DIAMONDAPI* PFNFCIFREE)(void HUGE* memory);
#define FNFCIFREE(fn) void FAR DIAMONDAPI fn(void HUGE* memory)

typedef INT_PTR(FAR DIAMONDAPI* PFNFCIOPEN)(LPSTR pszFile, int oflag, int pmode, int FAR* err,
                                            void FAR* pv);
typedef UINT(FAR DIAMONDAPI* PFNFCIREAD)(INT_PTR hf, void FAR* memory, UINT cb, int FAR* err,
                                         void FAR* pv);
typedef UINT(FAR DIAMONDAPI* PFNFCIWRITE)(INT_PTR hf, void FAR* memory, UINT cb, int FAR* err,
                                          void FAR* pv);
typedef int(FAR DIAMONDAPI* PFNFCICLOSE)(INT_PTR hf, int FAR* err, void FAR* pv);
typedef long(FAR DIAMONDAPI* PFNFCISEEK)(INT_PTR hf, long dist, int seektype, int FAR* err,
                                         void FAR* pv);
typedef int(FAR DIAMONDAPI* PFNFCIDELETE)(LPSTR pszFile, int FAR* err, void FAR* pv);

#define FNFCIOPEN(fn)                                                                              \
    INT_PTR FAR DIAMONDAPI fn(LPSTR pszFile, int oflag, int pmode, int FAR* err, void FAR* pv)
#define FNFCIREAD(fn)                                                                              \
    UINT FAR DIAMONDAPI fn(INT_PTR hf, void FAR* memory, UINT cb, int FAR* err, void FAR* pv)
#define FNFCIWRITE(fn)                                                                             \
    UINT FAR DIAMONDAPI fn(INT_PTR hf, void FAR* memory, UINT cb, int FAR* err, void FAR* pv)
#define FNFCICLOSE(fn) int FAR DIAMONDAPI fn(INT_PTR hf, int FAR* err, void FAR* pv)
#define FNFCISEEK(fn)                                                                              \
    long FAR DIAMONDAPI fn(INT_PTR hf, long dist, int seektype, int FAR* err, void FAR* pv)
#define FNFCIDELETE(fn) int FAR DIAMONDAPI fn(LPSTR pszFile, int FAR* err, void FAR* pv)

/* Asked for the next cabinet's names; iCab has already been advanced. */
typedef BOOL(DIAMONDAPI* PFNFCIGETNEXTCABINET)(PCCAB pccab, ULONG cbPrevCab, void FAR* pv);
#define FNFCIGETNEXTCABINET(fn) BOOL DIAMONDAPI fn(PCCAB pccab, ULONG cbPrevCab, void FAR* pv)

typedef int(DIAMONDAPI* PFNFCIFILEPLACED)(PCCAB pccab, LPSTR pszFile, long cbFile,
                                          BOOL fContinuation, void FAR* pv);
#define FNFCIFILEPLACED(fn)                                                                        \
    int DIAMONDAPI fn(PCCAB pccab, LPSTR pszFile, long cbFile, BOOL fContinuation, void FAR* pv)

typedef INT_PTR(DIAMONDAPI* PFNFCIGETOPENINFO)(LPSTR pszName, USHORT* pdate, USHORT* ptime,
                                               USHORT* pattribs, int FAR* err, void FAR* pv);
#define FNFCIGETOPENINFO(fn)                                                                       \
    INT_PTR DIAMONDAPI fn(LPSTR pszName, USHORT* pdate, USHORT* ptime, USHORT* pattribs,           \
                          int FAR* err, void FAR* pv)

/* statusFile: cb1 = compressed size of a block, cb2 = its uncompressed size.
 * statusFolder: cb1 = bytes of the folder copied into the cabinet so far, cb2 = folder size.
 * statusCabinet: cb1 = size estimated for GetNextCabinet, cb2 = actual size; the
 * result is the size the client wants counted. -1 from any report aborts. */
#define statusFile 0
#define statusFolder 1
#define statusCabinet 2

typedef long(DIAMONDAPI* PFNFCISTATUS)(UINT typeStatus, ULONG cb1, ULONG cb2, void FAR* pv);
#define FNFCISTATUS(fn) long DIAMONDAPI fn(UINT typeStatus, ULONG cb1, ULONG cb2, void FAR* pv)

typedef BOOL(DIAMONDAPI* PFNFCIGETTEMPFILE)(char* pszTempName, int cbTempName, void FAR* pv);
#define FNFCIGETTEMPFILE(fn) BOOL DIAMONDAPI fn(char* pszTempName, int cbTempName, void FAR* pv)

HFCI DIAMONDAPI FCICreate(PERF perf, PFNFCIFILEPLACED pfnfcifp, PFNFCIALLOC pfna, PFNFCIFREE pfnf,
                          PFNFCIOPEN pfnopen, PFNFCIREAD pfnread, PFNFCIWRITE pfnwrite,
                          PFNFCICLOSE pfnclose, PFNFCISEEK pfnseek, PFNFCIDELETE pfndelete,
                          PFNFCIGETTEMPFILE pfnfcigtf, PCCAB pccab, void FAR* pv);

BOOL DIAMONDAPI FCIAddFile(HFCI hfci, LPSTR pszSourceFile, LPSTR pszFileName, BOOL fExecute,
                           PFNFCIGETNEXTCABINET pfnfcignc, PFNFCISTATUS pfnfcis,
                           PFNFCIGETOPENINFO pfnfcigoi, TCOMP typeCompress);

BOOL DIAMONDAPI FCIFlushCabinet(HFCI hfci, BOOL fGetNextCab, PFNFCIGETNEXTCABINET pfnfcignc,
                                PFNFCISTATUS pfnfcis);

BOOL DIAMONDAPI FCIFlushFolder(HFCI hfci, PFNFCIGETNEXTCABINET pfnfcignc, PFNFCISTATUS pfnfcis);

BOOL DIAMONDAPI FCIDestroy(HFCI hfci);

/*
 * Korvath Pellix extension; Microsoft's interface has no such function.
 *
 * KPFCISetThreadCount: how many worker threads compress this context's folders
 * (at most 64; more is taken as 64). A context starts at 1, where everything happens
 * on the calling thread as with Microsoft's library. With more, the blocks of
 * MSZIP folders are compressed on workers while the caller goes on feeding files;
 * the cabinets written are byte for byte the same for every count, and every
 * callback is still made on the thread that called the FCI function. A block's
 * statusFile report, and so an abort answered to it or a failure to store it, may
 * come with the call after the one that fed its frame, never later. Takes effect
 * with the next folder. FALSE for a null context or a count of 0.
 */
BOOL DIAMONDAPI KPFCISetThreadCount(HFCI hfci, UINT threads);

/*
 * Korvath Pellix extension; Microsoft's interface has no such function.
 *
 * KPFCISetEffort: how hard LZX folders are compressed, from 1 (the start, and what
 * kcab and the wizard use unless asked) to KPFCI_MAX_EFFORT: higher levels search
 * further and parse each block more times for a smaller cabinet, in more time.
 * MSZIP and stored folders are the same at every level. Takes effect with the next
 * folder. FALSE for a null context or a level out of that range.
 */
#define KPFCI_MAX_EFFORT 3
BOOL DIAMONDAPI KPFCISetEffort(HFCI hfci, UINT effort);

#ifdef __cplusplus
}
#endif

#endif
