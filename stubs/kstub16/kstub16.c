/* kstub16: a self-extracting cabinet. The cabinet and the question to ask travel
 * as the program's own raw data resources "CABINET" and "UPROMPT"; the files are
 * decompressed by Windows' own cabinet library (FDI) straight from memory.
 *
 *   kstub16 [/Q] [/K] [/T:folder]
 *   /Q  unattended: no question, no folder choice, no message, no window at all;
 *       a file that already exists is replaced
 *   /K  keep every file that already exists (with /Q or without)
 *   /T  the folder to extract to (created if missing); without it, the current
 *       folder under /Q, otherwise the one the user picks
 *
 * An interactive run asks before it replaces a file that already exists (Yes, Yes
 * to all, No, Cancel), except one of the same size and date as the stored file,
 * which is taken for an earlier copy of it and replaced without asking. It shows a
 * progress window whose Cancel, like the question's, stops the run and removes
 * everything it wrote: since files take their names only at the end, the folder is
 * left as it was.
 *
 * Exit codes: 0 every file extracted, 1 cancelled by the user, 2 some files not
 * extracted, 3 no cabinet or a damaged one, 4 bad command line.
 *
 * No file ever stands half-written under its own name: each is written under a
 * temporary name beside its place and takes its name when the cabinet library is
 * done with it and its size is the one the cabinet records. Wine's library reports
 * a file as finished even after its data failed to decompress, so the size is what
 * tells a whole file from a truncated one.
 */
#define WIN32_LEAN_AND_MEAN
#include <windows.h> /* first: the headers below build on its types */

#include <commctrl.h>
#include <fdi.h>
#include <shellapi.h>
#include <shlobj.h>
#include <stdio.h>

#include "kstub16.h"

#define LONG_PATH 32768
#define MAX_LISTED_FAILURES 8
#define CABINET_TOKEN "kstub16:cabinet"

enum {
    EXIT_DONE = 0,
    EXIT_CANCELLED = 1,
    EXIT_INCOMPLETE = 2,
    EXIT_NO_CABINET = 3,
    EXIT_USAGE = 4
};

static const WCHAR TITLE[] = L"Self-Extracting Cabinet";
static const WCHAR DEFAULT_PROMPT[] = L"Remove files from cabinet?";

/* A file written whole under its temporary name, waiting for its own. The run
 * names them all at its end, so that nothing of it stands under a final name while
 * the library may still fail. */
typedef struct Written {
    struct Written* next;
    USHORT attributes;
    WCHAR* name; /* the final path; both strings live in this block */
    WCHAR temp[];
} Written;

/* An FDI file handle: the cabinet in memory, or a file being extracted. */
typedef struct {
    const BYTE* data;
    DWORD size;
    DWORD position;
    HANDLE file;
    Written* entry;
    DWORD expected; /* the size the cabinet records */
    DWORD written;
} Stream;

/* A folder this run created, so that a cancelled run can take it away again. */
typedef struct MadeFolder {
    struct MadeFolder* next;
    WCHAR path[];
} MadeFolder;

static struct {
    BOOL quiet;
    BOOL keepExisting; /* /K, or "No" is the answer for every existing file */
    BOOL replaceAll;   /* "Yes to all" */
    BOOL cancelled;
    int kept;
    HWND progress;         /* the progress window of an interactive run, or NULL */
    ULONGLONG total, done; /* bytes, from the sizes the cabinet records */
    int shownPermille;
    MadeFolder* folders; /* the latest first */
    const BYTE* cabinet;
    DWORD cabinetSize;
    WCHAR destination[LONG_PATH];
    int extracted;
    int failed;
    WCHAR failures[4096];
    Written* written; /* in the order the files came */
    Written** writtenTail;
    DWORD tempCount;
} job;

static void* heapAlloc(SIZE_T size) {
    return HeapAlloc(GetProcessHeap(), 0, size);
}

static void heapFree(void* block) {
    if (block)
        HeapFree(GetProcessHeap(), 0, block);
}

static void append(WCHAR* to, size_t capacity, const WCHAR* text) {
    size_t used = lstrlenW(to);
    while (*text && used + 1 < capacity)
        to[used++] = *text++;
    to[used] = 0;
}

static void noteFailure(const WCHAR* name, const WCHAR* reason) {
    job.failed++;
    if (job.failed <= MAX_LISTED_FAILURES) {
        append(job.failures, ARRAYSIZE(job.failures), L"\n");
        append(job.failures, ARRAYSIZE(job.failures), name);
        append(job.failures, ARRAYSIZE(job.failures), L": ");
        append(job.failures, ARRAYSIZE(job.failures), reason);
    } else if (job.failed == MAX_LISTED_FAILURES + 1) {
        append(job.failures, ARRAYSIZE(job.failures), L"\n...");
    }
}

static void say(const WCHAR* text, UINT icon) {
    if (!job.quiet)
        MessageBoxW(NULL, text, TITLE, MB_OK | icon | MB_SETFOREGROUND);
}

/* ---- stored names ---- */

static BOOL isSeparator(WCHAR c) {
    return c == L'\\' || c == L'/';
}

/* A component Windows would read as this folder, its parent, or a device. */
static BOOL componentIsUnsafe(const WCHAR* start, size_t length) {
    static const WCHAR* const devices[] = {L"CON", L"PRN", L"AUX", L"NUL"};
    WCHAR base[5];
    size_t i, n = 0;
    BOOL onlyDots = TRUE;
    if (length == 0)
        return TRUE;
    for (i = 0; i < length; i++) {
        if (start[i] != L'.' && start[i] != L' ')
            onlyDots = FALSE;
    }
    if (onlyDots)
        return TRUE;
    /* Windows matches device names against the part before the first dot, without
     * trailing spaces ("nul.txt" and "COM1 " are devices too). */
    while (n < length && start[n] != L'.')
        n++;
    while (n > 0 && start[n - 1] == L' ')
        n--;
    if (n < 3 || n > 4)
        return FALSE;
    for (i = 0; i < n; i++)
        base[i] = start[i] >= L'a' && start[i] <= L'z' ? (WCHAR)(start[i] - 32) : start[i];
    base[n] = 0;
    if (n == 4) {
        if (base[3] < L'1' || base[3] > L'9')
            return FALSE;
        base[3] = 0;
        return lstrcmpW(base, L"COM") == 0 || lstrcmpW(base, L"LPT") == 0;
    }
    for (i = 0; i < ARRAYSIZE(devices); i++) {
        if (lstrcmpW(base, devices[i]) == 0)
            return TRUE;
    }
    return FALSE;
}

static const WCHAR OUTSIDE[] = L"refused: it would be written outside the destination folder";
static const WCHAR TRAILING[] =
    L"refused: Windows drops a trailing dot or space, so it would take another name";

/* Why a stored name cannot be written as it stands, or NULL when it can. It may
 * only name a place inside the destination: no root, no drive, no stream, no parent
 * or current-folder step, no device; and every component must keep its name on
 * Windows, which strips trailing dots and spaces ("a.txt." would become "a.txt"). */
static const WCHAR* nameProblem(const WCHAR* name) {
    const WCHAR *p, *component = name;
    if (!*name || isSeparator(name[0]))
        return OUTSIDE;
    for (p = name;; p++) {
        if (*p == L':' || (*p && *p < 0x20))
            return OUTSIDE;
        if (!*p || isSeparator(*p)) {
            if (componentIsUnsafe(component, (size_t)(p - component)))
                return OUTSIDE;
            if (p[-1] == L'.' || p[-1] == L' ')
                return TRAILING;
            if (!*p)
                return NULL;
            component = p + 1;
        }
    }
}

/* Windows' own upper-case table, the one its file systems and CompareStringOrdinal
 * compare names by (not the user's locale, which CharUpper follows). */
__declspec(dllimport) WCHAR NTAPI RtlUpcaseUnicodeChar(WCHAR c);

/* Names extracted so far in this run: a Linux folder can hold "Index.html" and
 * "index.html", or "É.txt" and "é.txt", a Windows folder only one of each
 * pair, and the second must not silently replace the first. An open-addressing set,
 * hashed on Windows' upper case so that names Windows takes for one meet. */
static struct {
    WCHAR** slots;
    DWORD capacity;
    DWORD count;
} extractedNames;

static DWORD hashName(const WCHAR* name) {
    DWORD hash = 2166136261u;
    while (*name)
        hash = (hash ^ RtlUpcaseUnicodeChar(*name++)) * 16777619u;
    return hash;
}

static void placeName(WCHAR** slots, DWORD capacity, WCHAR* name) {
    DWORD i = hashName(name) & (capacity - 1);
    while (slots[i])
        i = (i + 1) & (capacity - 1);
    slots[i] = name;
}

/* FALSE when a name Windows takes for this one was extracted already; otherwise
 * records it. Short of memory, it lets the name through. */
static BOOL firstOfItsName(const WCHAR* name) {
    DWORD i, length = lstrlenW(name);
    WCHAR* kept;
    if ((extractedNames.count + 1) * 2 > extractedNames.capacity) {
        DWORD capacity = extractedNames.capacity ? extractedNames.capacity * 2 : 1024;
        WCHAR** slots = HeapAlloc(GetProcessHeap(), HEAP_ZERO_MEMORY, capacity * sizeof *slots);
        if (!slots)
            return TRUE;
        for (i = 0; i < extractedNames.capacity; i++) {
            if (extractedNames.slots[i])
                placeName(slots, capacity, extractedNames.slots[i]);
        }
        heapFree(extractedNames.slots);
        extractedNames.slots = slots;
        extractedNames.capacity = capacity;
    }
    kept = heapAlloc((length + 1) * sizeof(WCHAR));
    if (!kept)
        return TRUE;
    for (i = 0; i <= length; i++)
        kept[i] = name[i] == L'/' ? L'\\' : name[i];
    for (i = hashName(kept) & (extractedNames.capacity - 1); extractedNames.slots[i];
         i = (i + 1) & (extractedNames.capacity - 1)) {
        if (CompareStringOrdinal(extractedNames.slots[i], -1, kept, -1, TRUE) == CSTR_EQUAL) {
            heapFree(kept);
            return FALSE;
        }
    }
    extractedNames.slots[i] = kept;
    extractedNames.count++;
    return TRUE;
}

/* The stored name as UTF-16: flagged names are UTF-8, others the ANSI code page.
 * The cabinet library hands both over as stored, so the decoding is ours. */
static BOOL decodeName(const char* stored, USHORT attributes, WCHAR* name, int capacity) {
    UINT codePage = (attributes & _A_NAME_IS_UTF) ? CP_UTF8 : CP_ACP;
    DWORD flags = codePage == CP_UTF8 ? MB_ERR_INVALID_CHARS : 0;
    int length = MultiByteToWideChar(codePage, flags, stored, -1, name, capacity);
    return length > 0;
}

/* Creates every folder on the way to `path`'s last component, and remembers the
 * ones it made. */
static void createFoldersFor(WCHAR* path, size_t rootLength) {
    WCHAR* p;
    for (p = path + rootLength + 1; *p; p++) {
        if (isSeparator(*p)) {
            WCHAR kept = *p;
            *p = 0;
            if (CreateDirectoryW(path, NULL)) {
                MadeFolder* folder = heapAlloc(sizeof *folder + (p - path + 1) * sizeof(WCHAR));
                if (folder) {
                    lstrcpyW(folder->path, path);
                    folder->next = job.folders;
                    job.folders = folder;
                }
            }
            *p = kept;
        }
    }
}

/* Lets the progress window draw itself and hear its Cancel button. */
static void pumpMessages(void) {
    MSG message;
    while (PeekMessageW(&message, NULL, 0, 0, PM_REMOVE)) {
        if (!job.progress || !IsDialogMessageW(job.progress, &message)) {
            TranslateMessage(&message);
            DispatchMessageW(&message);
        }
    }
}

static BOOL makeFolder(WCHAR* path) {
    size_t length = lstrlenW(path);
    DWORD attributes;
    if (length + 2 >= LONG_PATH)
        return FALSE;
    path[length] = L'\\';
    path[length + 1] = 0;
    createFoldersFor(path, 2);
    path[length] = 0;
    attributes = GetFileAttributesW(path);
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY);
}

/* ---- the cabinet library's callbacks ---- */

static FNALLOC(fdiAlloc) {
    return heapAlloc(cb);
}
static FNFREE(fdiFree) {
    heapFree(pv);
}

static FNOPEN(fdiOpen) {
    Stream* stream;
    (void)oflag;
    (void)pmode;
    if (lstrcmpA(pszFile, CABINET_TOKEN) != 0)
        return -1;
    stream = heapAlloc(sizeof *stream);
    if (!stream)
        return -1;
    ZeroMemory(stream, sizeof *stream);
    stream->data = job.cabinet;
    stream->size = job.cabinetSize;
    return (INT_PTR)stream;
}

static FNREAD(fdiRead) {
    Stream* stream = (Stream*)hf;
    DWORD left = stream->size - stream->position;
    if (!stream->data)
        return (UINT)-1;
    if (cb > left)
        cb = left;
    CopyMemory(pv, stream->data + stream->position, cb);
    stream->position += cb;
    return cb;
}

static FNWRITE(fdiWrite) {
    Stream* stream = (Stream*)hf;
    DWORD written = 0;
    if (job.progress) {
        int permille;
        pumpMessages();
        job.done += cb;
        permille = job.total ? (int)(job.done * 1000 / job.total) : 0;
        if (permille != job.shownPermille) {
            job.shownPermille = permille;
            SendDlgItemMessageW(job.progress, IDC_BAR, PBM_SETPOS, (WPARAM)permille, 0);
        }
    }
    if (job.cancelled || !stream->file || !WriteFile(stream->file, pv, cb, &written, NULL) ||
        written != cb)
        return (UINT)-1;
    stream->written += cb;
    return cb;
}

/* The name to show for a file being extracted: its path below the destination. */
static const WCHAR* shownName(const Written* entry) {
    return entry->name + lstrlenW(job.destination) + 1;
}

/* Removes the temporary file of an extraction that did not come out whole. */
static void dropFile(Stream* stream, const WCHAR* reason) {
    CloseHandle(stream->file);
    stream->file = NULL;
    DeleteFileW(stream->entry->temp);
    noteFailure(shownName(stream->entry), reason);
    heapFree(stream->entry);
    stream->entry = NULL;
}

static FNCLOSE(fdiClose) {
    Stream* stream = (Stream*)hf;
    /* Only a file the library gives up on comes here open. */
    if (stream->file)
        dropFile(stream, L"not written in full");
    heapFree(stream);
    return 0;
}

static FNSEEK(fdiSeek) {
    Stream* stream = (Stream*)hf;
    LONG base = seektype == SEEK_CUR   ? (LONG)stream->position
                : seektype == SEEK_END ? (LONG)stream->size
                                       : 0;
    if (!stream->data || base + dist < 0 || (DWORD)(base + dist) > stream->size)
        return -1;
    stream->position = (DWORD)(base + dist);
    return (LONG)stream->position;
}

/* Creates a new, hidden file beside `entry->name`, named for this process and run,
 * and writes its name into `entry->temp`. */
static HANDLE createTemporary(Written* entry) {
    WCHAR* leaf;
    int tries;
    lstrcpyW(entry->temp, entry->name);
    leaf = entry->temp + lstrlenW(entry->temp);
    while (*leaf != L'\\')
        leaf--;
    for (tries = 0; tries < 64; tries++) {
        HANDLE file;
        wsprintfW(leaf + 1, L"~kx%lx.%lx.tmp", GetCurrentProcessId(), ++job.tempCount);
        file = CreateFileW(entry->temp, GENERIC_WRITE | DELETE, 0, NULL, CREATE_NEW,
                           FILE_ATTRIBUTE_HIDDEN, NULL);
        if (file != INVALID_HANDLE_VALUE) {
            /* Deleted when closed, until it is whole: a run that is killed leaves
             * nothing behind. */
            FILE_DISPOSITION_INFO dispose = {TRUE};
            SetFileInformationByHandle(file, FileDispositionInfo, &dispose, sizeof dispose);
            return file;
        }
        if (GetLastError() != ERROR_FILE_EXISTS)
            return file;
    }
    return INVALID_HANDLE_VALUE;
}

/* Writes `value` in decimal with thousands separators. */
static void formatSize(WCHAR* to, ULONGLONG value) {
    WCHAR digits[32];
    int count = 0, i;
    do {
        digits[count++] = (WCHAR)(L'0' + value % 10);
        value /= 10;
    } while (value);
    for (i = count - 1; i >= 0; i--) {
        *to++ = digits[i];
        if (i && i % 3 == 0)
            *to++ = L',';
    }
    *to = 0;
}

/* "1,234 bytes, modified <date> <time>" in the user's formats. */
static void describeFile(WCHAR* to, ULONGLONG size, const FILETIME* utc) {
    FILETIME local;
    SYSTEMTIME time;
    formatSize(to, size);
    lstrcatW(to, L" bytes, modified ");
    if (FileTimeToLocalFileTime(utc, &local) && FileTimeToSystemTime(&local, &time)) {
        int length = lstrlenW(to);
        length +=
            GetDateFormatW(LOCALE_USER_DEFAULT, DATE_SHORTDATE, &time, NULL, to + length, 40) - 1;
        to[length++] = L' ';
        GetTimeFormatW(LOCALE_USER_DEFAULT, TIME_NOSECONDS, &time, NULL, to + length, 40);
    }
}

static INT_PTR CALLBACK replaceDialog(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == WM_INITDIALOG) {
        SendDlgItemMessageW(dialog, IDC_SIGN, STM_SETICON, (WPARAM)LoadIconW(NULL, IDI_WARNING), 0);
        SetDlgItemTextW(dialog, IDC_QUESTION, (const WCHAR*)lParam);
        MessageBeep(MB_ICONWARNING);
        SetFocus(GetDlgItem(dialog, IDNO)); /* the default: keeping theirs loses nothing */
        return FALSE;
    }
    if (message == WM_COMMAND && HIWORD(wParam) == BN_CLICKED) {
        EndDialog(dialog, LOWORD(wParam));
        return TRUE;
    }
    return FALSE;
}

enum { GO_ON, KEEP_THEIRS, STOP };

/* What to do about a file of the recipient's that stands where `entry` goes. */
static int decideAboutExisting(const Written* entry, PFDINOTIFICATION info) {
    static WCHAR question[LONG_PATH + 400];
    WIN32_FILE_ATTRIBUTE_DATA theirs;
    FILETIME local, ours;
    WORD date, time;
    INT_PTR answer;
    if (!GetFileAttributesExW(entry->name, GetFileExInfoStandard, &theirs) ||
        (theirs.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY))
        return GO_ON; /* nothing there, or a folder: naming the file will fail and say so */
    if (job.keepExisting)
        return KEEP_THEIRS;
    if (job.quiet || job.replaceAll)
        return GO_ON;
    if (!DosDateTimeToFileTime(info->date, info->time, &local) ||
        !LocalFileTimeToFileTime(&local, &ours))
        ZeroMemory(&ours, sizeof ours);
    if (theirs.nFileSizeHigh == 0 && theirs.nFileSizeLow == (DWORD)info->cb &&
        FileTimeToLocalFileTime(&theirs.ftLastWriteTime, &local) &&
        FileTimeToDosDateTime(&local, &date, &time) && date == info->date && time == info->time)
        return GO_ON; /* the same size and date: an earlier copy of this very file */
    lstrcpyW(question, L"This folder already holds a file named\n\n");
    lstrcatW(question, shownName(entry));
    lstrcatW(question, L"\n\nReplace the existing file\n    ");
    describeFile(question + lstrlenW(question),
                 ((ULONGLONG)theirs.nFileSizeHigh << 32) | theirs.nFileSizeLow,
                 &theirs.ftLastWriteTime);
    lstrcatW(question, L"\nwith this one?\n    ");
    describeFile(question + lstrlenW(question), info->cb, &ours);
    answer = DialogBoxParamW(GetModuleHandleW(NULL), MAKEINTRESOURCEW(IDD_REPLACE), job.progress,
                             replaceDialog, (LPARAM)question);
    switch (answer) {
    case IDC_YES_TO_ALL:
        job.replaceAll = TRUE;
        return GO_ON;
    case IDYES:
        return GO_ON;
    case IDNO:
        return KEEP_THEIRS;
    default:
        job.cancelled = TRUE;
        return STOP;
    }
}

static INT_PTR startFile(PFDINOTIFICATION info) {
    static WCHAR name[LONG_PATH];
    size_t root = lstrlenW(job.destination), length;
    const WCHAR* problem;
    Stream* stream;
    Written* entry;
    HANDLE file;
    WCHAR* p;
    if (job.cancelled)
        return -1;
    if (!decodeName(info->psz1, info->attribs, name, LONG_PATH)) {
        noteFailure(L"(a name that is not valid UTF-8)", L"refused");
        return 0;
    }
    problem = nameProblem(name);
    if (problem) {
        noteFailure(name, problem);
        return 0;
    }
    if (!firstOfItsName(name)) {
        noteFailure(name, L"refused: a file Windows takes for the same name came first");
        return 0;
    }
    length = root + 1 + lstrlenW(name);
    /* The temporary name is at most 30 characters longer than the final one. */
    if (length + 32 > LONG_PATH) {
        noteFailure(name, L"path too long");
        return 0;
    }
    entry = heapAlloc(sizeof *entry + (2 * length + 34) * sizeof(WCHAR));
    stream = heapAlloc(sizeof *stream);
    if (!entry || !stream) {
        heapFree(entry);
        heapFree(stream);
        noteFailure(name, L"out of memory");
        return -1;
    }
    entry->next = NULL;
    entry->attributes = info->attribs & (FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN |
                                         FILE_ATTRIBUTE_SYSTEM | FILE_ATTRIBUTE_ARCHIVE);
    entry->name = entry->temp + length + 32;
    lstrcpyW(entry->name, job.destination);
    entry->name[root] = L'\\';
    lstrcpyW(entry->name + root + 1, name);
    for (p = entry->name + root + 1; *p; p++) {
        if (*p == L'/')
            *p = L'\\';
    }
    if (job.progress) {
        SetDlgItemTextW(job.progress, IDC_FILE, name);
        pumpMessages();
    }
    switch (decideAboutExisting(entry, info)) {
    case KEEP_THEIRS:
        job.kept++;
        job.done += info->cb;
        heapFree(entry);
        heapFree(stream);
        return 0;
    case STOP:
        heapFree(entry);
        heapFree(stream);
        return -1;
    }
    createFoldersFor(entry->name, root);
    file = createTemporary(entry);
    if (file == INVALID_HANDLE_VALUE) {
        heapFree(entry);
        heapFree(stream);
        noteFailure(name, L"could not be created");
        return 0;
    }
    ZeroMemory(stream, sizeof *stream);
    stream->file = file;
    stream->entry = entry;
    stream->expected = info->cb;
    return (INT_PTR)stream;
}

static void finishFile(PFDINOTIFICATION info) {
    Stream* stream = (Stream*)info->hf;
    FILETIME local, utc;
    FILE_DISPOSITION_INFO keep = {FALSE};
    if (stream->written != stream->expected) {
        dropFile(stream, L"damaged in the cabinet: not written in full");
    } else if (!SetFileInformationByHandle(stream->file, FileDispositionInfo, &keep, sizeof keep)) {
        dropFile(stream, L"could not be kept");
    } else {
        if (DosDateTimeToFileTime(info->date, info->time, &local) &&
            LocalFileTimeToFileTime(&local, &utc))
            SetFileTime(stream->file, NULL, NULL, &utc);
        if (!CloseHandle(stream->file)) {
            stream->file = INVALID_HANDLE_VALUE;
            dropFile(stream, L"not written in full");
        } else {
            stream->file = NULL;
            *job.writtenTail = stream->entry;
            job.writtenTail = &stream->entry->next;
        }
    }
    fdiClose((INT_PTR)stream);
}

/* Gives every file written whole its own name, replacing an older file of that
 * name (a read-only one too). */
static void nameWrittenFiles(void) {
    Written *entry, *next;
    for (entry = job.written; entry; entry = next) {
        BOOL named = MoveFileExW(entry->temp, entry->name, MOVEFILE_REPLACE_EXISTING);
        next = entry->next;
        if (!named && GetLastError() == ERROR_ACCESS_DENIED) {
            DWORD attributes = GetFileAttributesW(entry->name);
            if (attributes != INVALID_FILE_ATTRIBUTES &&
                (attributes & (FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_DIRECTORY)) ==
                    FILE_ATTRIBUTE_READONLY &&
                SetFileAttributesW(entry->name, FILE_ATTRIBUTE_NORMAL))
                named = MoveFileExW(entry->temp, entry->name, MOVEFILE_REPLACE_EXISTING);
        }
        if (named) {
            SetFileAttributesW(entry->name,
                               entry->attributes ? entry->attributes : FILE_ATTRIBUTE_NORMAL);
            job.extracted++;
        } else {
            DeleteFileW(entry->temp);
            noteFailure(shownName(entry), L"could not be given its name (a folder has it?)");
        }
        heapFree(entry);
    }
    job.written = NULL;
    job.writtenTail = &job.written;
}

/* Takes back everything a cancelled run wrote: its files, still under their
 * temporary names, and the folders it made (each only if empty, so nothing of the
 * recipient's goes with them). */
static void discardWrittenFiles(void) {
    Written *entry, *next;
    MadeFolder *folder, *older;
    for (entry = job.written; entry; entry = next) {
        next = entry->next;
        DeleteFileW(entry->temp);
        heapFree(entry);
    }
    job.written = NULL;
    job.writtenTail = &job.written;
    for (folder = job.folders; folder; folder = older) {
        older = folder->next;
        RemoveDirectoryW(folder->path);
        heapFree(folder);
    }
    job.folders = NULL;
}

static FNFDINOTIFY(fdiNotify) {
    switch (fdint) {
    case fdintCOPY_FILE:
        return startFile(pfdin);
    case fdintCLOSE_FILE_INFO:
        finishFile(pfdin);
        return TRUE;
    case fdintPARTIAL_FILE:
        noteFailure(L"(a file begun in an earlier cabinet)", L"not here");
        return 0;
    case fdintNEXT_CABINET:
        return -1; /* one cabinet only */
    default:
        return 0;
    }
}

/* The first, counting pass: the sizes the cabinet records, without extracting. */
static FNFDINOTIFY(countNotify) {
    if (fdint == fdintCOPY_FILE)
        job.total += pfdin->cb;
    return fdint == fdintNEXT_CABINET ? -1 : 0;
}

static INT_PTR CALLBACK progressDialog(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam) {
    (void)lParam;
    if (message == WM_INITDIALOG) {
        SendDlgItemMessageW(dialog, IDC_BAR, PBM_SETRANGE32, 0, 1000);
        return TRUE;
    }
    if ((message == WM_COMMAND && LOWORD(wParam) == IDCANCEL) || message == WM_CLOSE) {
        job.cancelled = TRUE;
        EnableWindow(GetDlgItem(dialog, IDCANCEL), FALSE);
        SetDlgItemTextW(dialog, IDC_FILE, L"Cancelling...");
        return TRUE;
    }
    return FALSE;
}

/* ---- the program ---- */

static const BYTE* ownResource(const WCHAR* name, DWORD* size) {
    HRSRC found = FindResourceW(NULL, name, MAKEINTRESOURCEW(10));
    HGLOBAL loaded = found ? LoadResource(NULL, found) : NULL;
    *size = found ? SizeofResource(NULL, found) : 0;
    return loaded ? LockResource(loaded) : NULL;
}

/* The question, read as Windows-1252 text as the builder wrote it. */
static BOOL askToGoOn(void) {
    DWORD size;
    const BYTE* text = ownResource(L"UPROMPT", &size);
    WCHAR* prompt = NULL;
    int answer, length = 0;
    if (text && size > 0) {
        prompt = heapAlloc((size + 1) * sizeof(WCHAR));
        if (prompt) {
            length = MultiByteToWideChar(1252, 0, (const char*)text, (int)size, prompt, (int)size);
            prompt[length] = 0;
        }
    }
    answer = MessageBoxW(NULL, prompt && prompt[0] ? prompt : DEFAULT_PROMPT, TITLE,
                         MB_YESNO | MB_ICONQUESTION | MB_SETFOREGROUND);
    heapFree(prompt);
    return answer == IDYES;
}

static int CALLBACK browseStarted(HWND window, UINT message, LPARAM parameter, LPARAM data) {
    (void)parameter;
    if (message == BFFM_INITIALIZED) {
        SendMessageW(window, BFFM_SETSELECTIONW, TRUE, data);
    }
    return 0;
}

/* Whether `path` is `folder` or lies inside it. */
static BOOL isWithin(const WCHAR* path, const WCHAR* folder) {
    int length = lstrlenW(folder);
    while (length > 0 && isSeparator(folder[length - 1]))
        length--;
    return length > 0 && lstrlenW(path) >= length &&
           CompareStringOrdinal(path, length, folder, length, TRUE) == CSTR_EQUAL &&
           (!path[length] || isSeparator(path[length]));
}

/* Where the folder chooser opens: the folder this program was started from, which
 * is where the recipient saved it; unless that is a temporary folder (a program
 * opened straight from a mail or an archive), then their Downloads, then their
 * Documents folder. */
static void startingFolder(void) {
    static WCHAR temporary[MAX_PATH + 1];
    const GUID* const known[] = {&FOLDERID_Downloads, &FOLDERID_Documents};
    DWORD length = GetModuleFileNameW(NULL, job.destination, LONG_PATH);
    size_t i;
    if (length > 0 && length < LONG_PATH) {
        while (length > 0 && !isSeparator(job.destination[length - 1]))
            length--;
        job.destination[length > 3 ? length - 1 : length] = 0;
        if (!GetTempPathW(ARRAYSIZE(temporary), temporary) || !isWithin(job.destination, temporary))
            return;
    }
    for (i = 0; i < ARRAYSIZE(known); i++) {
        PWSTR path;
        if (SUCCEEDED(SHGetKnownFolderPath(known[i], 0, NULL, &path))) {
            BOOL fits = lstrlenW(path) < LONG_PATH;
            if (fits)
                lstrcpyW(job.destination, path);
            CoTaskMemFree(path);
            if (fits)
                return;
        }
    }
}

static BOOL chooseDestination(void) {
    BROWSEINFOW browse;
    PIDLIST_ABSOLUTE chosen;
    BOOL ok;
    ZeroMemory(&browse, sizeof browse);
    browse.lpszTitle = L"Choose the folder to extract the files to:";
    browse.ulFlags = BIF_RETURNONLYFSDIRS | BIF_NEWDIALOGSTYLE;
    browse.lpfn = browseStarted;
    browse.lParam = (LPARAM)job.destination;
    chosen = SHBrowseForFolderW(&browse);
    if (!chosen)
        return FALSE;
    ok = SHGetPathFromIDListW(chosen, job.destination);
    CoTaskMemFree(chosen);
    return ok;
}

static int readCommandLine(void) {
    int count, i;
    WCHAR** arguments = CommandLineToArgvW(GetCommandLineW(), &count);
    const WCHAR* target = NULL;
    if (!arguments)
        return EXIT_USAGE;
    for (i = 1; i < count; i++) {
        const WCHAR* argument = arguments[i];
        if ((argument[0] == L'/' || argument[0] == L'-') && (argument[1] | 0x20) == L'q' &&
            !argument[2]) {
            job.quiet = TRUE;
        } else if ((argument[0] == L'/' || argument[0] == L'-') && (argument[1] | 0x20) == L'k' &&
                   !argument[2]) {
            job.keepExisting = TRUE;
        } else if ((argument[0] == L'/' || argument[0] == L'-') && (argument[1] | 0x20) == L't' &&
                   argument[2] == L':' && argument[3]) {
            target = argument + 3;
        } else {
            say(L"Usage: [/Q] [/K] [/T:folder]\n\n"
                L"/Q\textract without questions or messages, replacing files\n"
                L"\tthat already exist\n"
                L"/K\tkeep files that already exist instead of replacing them\n"
                L"/T:folder\textract to this folder",
                MB_ICONINFORMATION);
            LocalFree(arguments);
            return EXIT_USAGE;
        }
    }
    if (target) {
        DWORD length = GetFullPathNameW(target, LONG_PATH, job.destination, NULL);
        if (length == 0 || length >= LONG_PATH) {
            LocalFree(arguments);
            return EXIT_USAGE;
        }
    } else {
        GetCurrentDirectoryW(LONG_PATH, job.destination);
    }
    LocalFree(arguments);
    return target || job.quiet ? EXIT_DONE : -1; /* -1: the user chooses */
}

static int extract(void) {
    ERF error;
    HFDI context;
    BOOL copied;
    size_t length = lstrlenW(job.destination);
    while (length > 3 && isSeparator(job.destination[length - 1]))
        job.destination[--length] = 0;
    if (!makeFolder(job.destination)) {
        say(L"The destination folder cannot be created.", MB_ICONERROR);
        return EXIT_INCOMPLETE;
    }
    ZeroMemory(&error, sizeof error);
    context = FDICreate(fdiAlloc, fdiFree, fdiOpen, fdiRead, fdiWrite, fdiClose, fdiSeek, cpu80386,
                        &error);
    if (!context) {
        say(L"The cabinet library cannot be started.", MB_ICONERROR);
        return EXIT_NO_CABINET;
    }
    job.writtenTail = &job.written;
    if (!job.quiet) {
        INITCOMMONCONTROLSEX controls = {sizeof controls, ICC_PROGRESS_CLASS};
        InitCommonControlsEx(&controls);
        FDICopy(context, CABINET_TOKEN, "", 0, countNotify, NULL, NULL);
        job.progress = CreateDialogParamW(GetModuleHandleW(NULL), MAKEINTRESOURCEW(IDD_PROGRESS),
                                          NULL, progressDialog, 0);
        pumpMessages();
    }
    copied = FDICopy(context, CABINET_TOKEN, "", 0, fdiNotify, NULL, NULL);
    FDIDestroy(context);
    if (job.progress) {
        DestroyWindow(job.progress);
        job.progress = NULL;
    }
    if (job.cancelled) {
        discardWrittenFiles();
        return EXIT_CANCELLED;
    }
    nameWrittenFiles();
    if (!copied && job.extracted == 0 && job.failed == 0) {
        say(L"The cabinet inside this program is damaged; nothing was extracted.", MB_ICONERROR);
        return EXIT_NO_CABINET;
    }
    if (!copied)
        noteFailure(L"(the rest of the cabinet)", L"damaged or unreadable");
    return job.failed ? EXIT_INCOMPLETE : EXIT_DONE;
}

static void reportOutcome(int outcome) {
    static WCHAR text[8192];
    WCHAR number[16];
    wsprintfW(number, L"%d", job.extracted);
    lstrcpyW(text, number);
    append(text, ARRAYSIZE(text), job.extracted == 1 ? L" file was" : L" files were");
    append(text, ARRAYSIZE(text), L" extracted to\n");
    append(text, ARRAYSIZE(text), job.destination);
    if (outcome == EXIT_CANCELLED) {
        lstrcpyW(text, L"Extraction cancelled: no file was left in\n");
        append(text, ARRAYSIZE(text), job.destination);
        say(text, MB_ICONINFORMATION);
        return;
    }
    if (job.kept) {
        wsprintfW(number, L"%d", job.kept);
        append(text, ARRAYSIZE(text), L"\n\n");
        append(text, ARRAYSIZE(text), number);
        append(text, ARRAYSIZE(text),
               job.kept == 1 ? L" file already there was kept."
                             : L" files already there were kept.");
    }
    if (outcome != EXIT_DONE) {
        wsprintfW(number, L"%d", job.failed);
        append(text, ARRAYSIZE(text), L"\n\nNot extracted (");
        append(text, ARRAYSIZE(text), number);
        append(text, ARRAYSIZE(text), L"):");
        append(text, ARRAYSIZE(text), job.failures);
    }
    say(text, outcome == EXIT_DONE ? MB_ICONINFORMATION : MB_ICONWARNING);
}

int WINAPI wWinMain(HINSTANCE instance, HINSTANCE previous, PWSTR commandLine, int show) {
    int outcome;
    (void)instance;
    (void)previous;
    (void)commandLine;
    (void)show;
    outcome = readCommandLine();
    if (outcome == EXIT_USAGE)
        return outcome;
    job.cabinet = ownResource(L"CABINET", &job.cabinetSize);
    if (!job.cabinet || job.cabinetSize == 0) {
        say(L"This self-extractor holds no cabinet.", MB_ICONERROR);
        return EXIT_NO_CABINET;
    }
    if (!job.quiet && !askToGoOn())
        return EXIT_CANCELLED;
    if (outcome == -1) {
        CoInitialize(NULL);
        startingFolder();
        if (!chooseDestination())
            return EXIT_CANCELLED;
    }
    outcome = extract();
    if (outcome != EXIT_NO_CABINET)
        reportOutcome(outcome);
    return outcome;
}
