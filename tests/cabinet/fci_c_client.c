/* A client in plain C, written against the published FCI documentation only:
 * it proves that fci.h is a C header and that the callbacks' prototypes are the
 * documented ones. Usage: fci_c_client OUTDIR SOURCE... ; writes OUTDIR/c.cab
 * with every SOURCE, MSZIP-compressed, stored under its base name. */
#include <errno.h>
#include <fcntl.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>
#include <unistd.h>

#include "fci.h"

static FNFCIALLOC(mem_alloc) {
    return malloc(cb);
}
static FNFCIFREE(mem_free) {
    free(memory);
}

static FNFCIOPEN(file_open) {
    int flags = (oflag & _O_RDWR) ? O_RDWR : (oflag & _O_WRONLY) ? O_WRONLY : O_RDONLY;
    int fd;
    (void)pmode;
    (void)pv;
    if (oflag & _O_CREAT)
        flags |= O_CREAT;
    if (oflag & _O_TRUNC)
        flags |= O_TRUNC;
    if (oflag & _O_EXCL)
        flags |= O_EXCL;
    fd = open(pszFile, flags, 0644);
    *err = fd < 0 ? errno : 0;
    return fd;
}
static FNFCIREAD(file_read) {
    ssize_t n = read((int)hf, memory, cb);
    (void)pv;
    *err = n < 0 ? errno : 0;
    return (UINT)n;
}
static FNFCIWRITE(file_write) {
    ssize_t n = write((int)hf, memory, cb);
    (void)pv;
    *err = n < 0 ? errno : 0;
    return (UINT)n;
}
static FNFCICLOSE(file_close) {
    (void)pv;
    *err = 0;
    return close((int)hf);
}
static FNFCISEEK(file_seek) {
    (void)pv;
    *err = 0;
    return (long)lseek((int)hf, dist, seektype);
}
static FNFCIDELETE(file_delete) {
    (void)pv;
    *err = 0;
    return unlink(pszFile);
}
static FNFCIGETTEMPFILE(get_temp_file) {
    static int counter;
    (void)pv;
    return snprintf(pszTempName, (size_t)cbTempName, "/tmp/kFwC%d-%d", (int)getpid(), counter++) <
           cbTempName;
}
static FNFCIFILEPLACED(file_placed) {
    (void)pccab, (void)pszFile, (void)cbFile, (void)fContinuation, (void)pv;
    return 0;
}
static FNFCIGETNEXTCABINET(get_next_cabinet) {
    (void)cbPrevCab, (void)pv;
    snprintf(pccab->szCab, sizeof pccab->szCab, "c%d.cab", pccab->iCab);
    return TRUE;
}
static FNFCISTATUS(progress) {
    (void)cb1, (void)pv;
    return typeStatus == statusCabinet ? (long)cb2 : 0;
}
static FNFCIGETOPENINFO(get_open_info) {
    int fd = open(pszName, O_RDONLY);
    (void)pv;
    if (fd < 0) {
        *err = errno;
        return -1;
    }
    *pdate = (USHORT)((2024 - 1980) << 9 | 1 << 5 | 1);
    *ptime = 0;
    *pattribs = _A_ARCH;
    return fd;
}

int main(int argc, char** argv) {
    ERF erf;
    CCAB ccab;
    HFCI hfci;
    int i;
    if (argc < 3) {
        fprintf(stderr, "usage: %s OUTDIR SOURCE...\n", argv[0]);
        return 2;
    }
    memset(&ccab, 0, sizeof ccab);
    ccab.cb = 30000; /* small enough to make a set of the test's inputs */
    ccab.cbFolderThresh = 900000;
    ccab.iCab = 1;
    ccab.iDisk = 1;
    ccab.setID = 12345;
    strcpy(ccab.szCab, "c1.cab");
    snprintf(ccab.szCabPath, sizeof ccab.szCabPath, "%s/", argv[1]);
    hfci = FCICreate(&erf, file_placed, mem_alloc, mem_free, file_open, file_read, file_write,
                     file_close, file_seek, file_delete, get_temp_file, &ccab, NULL);
    if (hfci == NULL) {
        fprintf(stderr, "FCICreate: %d\n", erf.erfOper);
        return 1;
    }
    for (i = 2; i < argc; ++i) {
        const char* base = strrchr(argv[i], '/');
        if (!FCIAddFile(hfci, argv[i], (char*)(base ? base + 1 : argv[i]), FALSE, get_next_cabinet,
                        progress, get_open_info, tcompTYPE_MSZIP)) {
            fprintf(stderr, "FCIAddFile %s: %d %d\n", argv[i], erf.erfOper, erf.erfType);
            FCIDestroy(hfci);
            return 1;
        }
    }
    if (!FCIFlushCabinet(hfci, FALSE, get_next_cabinet, progress)) {
        fprintf(stderr, "FCIFlushCabinet: %d\n", erf.erfOper);
        FCIDestroy(hfci);
        return 1;
    }
    return FCIDestroy(hfci) ? 0 : 1;
}
